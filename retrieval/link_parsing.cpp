#include "link_parsing.h"

#include <algorithm>

namespace corvane {

namespace {

// A character that would end or split a line or a word of the request: the
// request line's three words are split at spaces, and a CR or LF would start a
// header line of its own.
bool breaksRequest(QChar c)
{
    return c.unicode() <= u' ' || c.unicode() == 0x7F;
}

} // namespace

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
    // A copied link often brings blanks and a line end (or a page's no-break
    // space) around it; what is left goes on the wire, and must not hold
    // anything that breaks the request apart.
    const QString link = text.trimmed();
    parsed.RequestLink = link;
    if (!link.contains(u"v=") || std::any_of(link.begin(), link.end(), breaksRequest)) {
        parsed.error = kInvalidLinkMessage;
        return parsed;
    }
    // The whole link, scheme included, and nothing cut at '&' or '#'.
    parsed.VideoId = SplitPiece(link, u"v=", 1);
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
