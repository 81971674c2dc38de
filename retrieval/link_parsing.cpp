#include "link_parsing.h"

namespace corvane {

QString SplitPiece(QStringView text, QStringView delimiter, qsizetype n)
{
    if (delimiter.isEmpty())
        return n == 0 ? text.toString() : QString();
    qsizetype start = 0;
    for (qsizetype piece = 0; piece < n; ++piece) {
        const qsizetype found = text.indexOf(delimiter, start);
        if (found < 0)
            return QString();
        start = found + delimiter.size();
    }
    const qsizetype end = text.indexOf(delimiter, start);
    return text.sliced(start, (end < 0 ? text.size() : end) - start).toString();
}

ParsedLink ParseVideoLink(const QString &text)
{
    ParsedLink parsed;
    if (text.isEmpty() || text == kPlaceholderText) {
        parsed.error = kEmptyLinkMessage;
        return parsed;
    }
    parsed.RequestLink = text;
    if (!text.contains(u"v=")) {
        parsed.error = kInvalidLinkMessage;
        return parsed;
    }
    // The whole typed text, scheme included, and nothing cut at '&' or '#'.
    parsed.VideoId = SplitPiece(text, u"v=", 1);
    if (parsed.RequestLink.contains(u"://"))
        parsed.RequestLink = SplitPiece(parsed.RequestLink, u"://", 1);
    parsed.host = parsed.RequestLink.contains(u'/') ? SplitPiece(parsed.RequestLink, u"/", 0)
                                                    : parsed.RequestLink;
    return parsed;
}

QString ComposeInfoRequest(const QString &VideoId, const QString &host)
{
    return QStringLiteral("GET /get_video_info?video_id=") + VideoId
           + QStringLiteral(" HTTP/1.1\r\n"
                            "Host: ")
           + host
           + QStringLiteral("\r\n"
                            "User-Agent: Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; "
                            "rv:1.9.1.8) Gecko/20100202 Firefox/3.5.8\r\n"
                            "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,"
                            "*/*;q=0.8\r\n"
                            "Accept-Language: en-us,en;q=0.5\r\n"
                            "Accept-Encoding: gzip,deflate\r\n"
                            "Keep-Alive: 300\r\n"
                            "Connection: keep-alive\r\n"
                            "\r\n");
}

} // namespace corvane
