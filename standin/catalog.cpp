#include "catalog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace standin {

namespace {

QByteArray newToken()
{
    QByteArray bits(16, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bits.data()), 4);
    return bits.toBase64();
}

QByteArray mediaTypeOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"webm")
        return "video/webm";
    if (suffix == u"mp4")
        return "video/mp4";
    return "application/octet-stream";
}

} // namespace

Catalog Catalog::load(const QString &directory)
{
    Catalog catalog;
    const QDir dir(directory);
    QFile list(dir.filePath(QStringLiteral("catalog.tsv")));
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text)) {
        catalog.error_
            = QStringLiteral("cannot read %1: %2").arg(list.fileName(), list.errorString());
        return catalog;
    }
    int lineNumber = 0;
    while (!list.atEnd()) {
        ++lineNumber;
        const QString line = QString::fromUtf8(list.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringList fields = line.split(u'\t');
        bool numeric = false;
        Video video;
        if (fields.size() == 4) {
            video.id = fields[0].toLatin1();
            video.seconds = fields[1].toInt(&numeric);
            video.path = dir.filePath(fields[2]);
            video.title = fields[3];
        }
        if (!numeric || video.id.isEmpty() || !QFileInfo(video.path).isFile()
            || QFileInfo(fields[2]).fileName() != fields[2]) {
            catalog.videos_.clear();
            catalog.error_ = QStringLiteral("%1:%2: expected id, seconds, a file beside the "
                                            "catalog and a title, separated by tabs")
                                 .arg(list.fileName())
                                 .arg(lineNumber);
            return catalog;
        }
        video.mediaType = mediaTypeOf(video.path);
        video.token = newToken();
        catalog.videos_ << video;
    }
    if (catalog.videos_.isEmpty())
        catalog.error_ = QStringLiteral("%1 lists no video").arg(list.fileName());
    return catalog;
}

const Video *Catalog::find(QByteArrayView id) const
{
    for (const Video &video : videos_) {
        if (video.id == id)
            return &video;
    }
    return nullptr;
}

} // namespace standin
