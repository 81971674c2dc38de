#include "standin_service.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <memory>

namespace standin {

namespace {

QByteArray formEncode(const QString &text)
{
    return text.toUtf8().toPercentEncoding(" ").replace(' ', '+');
}

// A file name for the title that every system takes as it is: no path
// separators, control characters or other characters Windows refuses, no
// trailing dot or space, no Windows device name.
QString safeFileName(const QString &title, const QString &suffix)
{
    QString name;
    for (const QChar c : title) {
        if (c.category() == QChar::Other_Control || QStringView(u"/\\:\"<>|?*").contains(c))
            name += u'_';
        else
            name += c;
    }
    // Windows drops trailing dots and spaces, and leading dots hide a file.
    name = name.trimmed();
    while (name.startsWith(u'.'))
        name.remove(0, 1);
    while (name.endsWith(u'.') || name.endsWith(u' '))
        name.chop(1);
    if (name.isEmpty())
        name = QStringLiteral("video");
    // CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices on Windows, also
    // with an extension ("con.txt", "LPT1 .webm").
    static const QRegularExpression reserved(
        QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])\\s*(\\.|$)"),
        QRegularExpression::CaseInsensitiveOption);
    if (reserved.match(name).hasMatch())
        name.prepend(u'_');
    return name + u'.' + suffix;
}

// The info endpoint's reply body for a video id.
QByteArray videoInfo(const Catalog &catalog, QByteArrayView id)
{
    const Video *video = catalog.find(id);
    if (!video)
        return "status=fail&errorcode=150&reason="
               + formEncode(QStringLiteral("This video is unavailable."));
    return "status=ok&length_seconds=" + QByteArray::number(video->seconds)
           + "&token=" + video->token.toPercentEncoding() + "&author=Corvane+stand-in"
           + "&title=" + formEncode(video->title) + "&video_id=" + video->id;
}

} // namespace

HttpResponse StandinService::handle(const HttpRequest &request) const
{
    if (request.path == "/get_video_info") {
        HttpResponse response;
        response.contentType = "application/x-www-form-urlencoded";
        response.body = videoInfo(catalog_, request.query.value("video_id"));
        response.etag
            = '"'
              + QCryptographicHash::hash(response.body, QCryptographicHash::Sha1).toHex().left(20)
              + '"';
        response.lastModified = loaded_;
        return response;
    }
    if (request.path == "/download/index.php")
        return download(request);
    return errorPage(404, "There is nothing here.");
}

HttpResponse StandinService::download(const HttpRequest &request) const
{
    const Video *video = catalog_.find(request.query.value("video_id"));
    if (!video)
        return errorPage(404, "There is no such video.");
    if (request.query.value("id") != video->token)
        return errorPage(403,
                         "This download link is not valid: its token does not match the video. "
                         "Ask for the video's info again to get a fresh link.");
    auto file = std::make_shared<QFile>(video->path);
    if (!file->open(QIODevice::ReadOnly))
        return errorPage(404, "The video's file is missing.");

    const QString name = safeFileName(video->title, QFileInfo(video->path).suffix());
    QByteArray ascii;
    for (const QChar c : name)
        ascii += c.unicode() < 0x80 ? char(c.unicode()) : '_';
    HttpResponse response;
    response.contentType = video->mediaType;
    response.headers << std::pair{QByteArray("Content-Disposition"),
                                  "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''"
                                      + name.toUtf8().toPercentEncoding()};
    response.file = std::move(file);
    return response;
}

} // namespace standin
