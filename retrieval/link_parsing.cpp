#include "link_parsing.h"

#include "default_ignorable.h"
#include "messages.h"

#include <QHostAddress>
#include <QUrl>

#include <algorithm>
#include <optional>

namespace corvane {

namespace {

// The code point that starts at `at`, and how many UTF-16 units it takes.
char32_t codePointAt(QStringView text, qsizetype at, qsizetype &units)
{
    units = 1;
    const char16_t first = text[at].unicode();
    if (QChar::isHighSurrogate(first) && at + 1 < text.size()
        && QChar::isLowSurrogate(text[at + 1].unicode())) {
        units = 2;
        return QChar::surrogateToUcs4(first, text[at + 1].unicode());
    }
    return first;
}

// The code point that ends just before `end`, and how many units it takes.
char32_t codePointBefore(QStringView text, qsizetype end, qsizetype &units)
{
    if (end >= 2 && QChar::isLowSurrogate(text[end - 1].unicode())
        && QChar::isHighSurrogate(text[end - 2].unicode()))
        return codePointAt(text, end - 2, units);
    return codePointAt(text, end - 1, units);
}

// Characters that show as nothing: invisible format marks (LRM and RLM,
// zero-width spaces and joiners, a BOM, a soft hyphen), which ride along with
// links copied from chats, mails and pages, and the other code points Unicode
// says to render as nothing (Hangul fillers, a combining grapheme joiner,
// variation selectors, tags).
bool isInvisible(char32_t c)
{
    if (QChar::category(c) == QChar::Other_Format)
        return true;
    const auto after = std::upper_bound(
        std::begin(kDefaultIgnorable), std::end(kDefaultIgnorable), c,
        [](char32_t code, const CodePointRange &range) { return code < range.first; });
    return after != std::begin(kDefaultIgnorable) && c <= std::prev(after)->last;
}

// Dropped at both ends of a pasted link: white space of any script, line
// ends and invisible characters.
bool isPaddingAround(char32_t c)
{
    return QChar::isSpace(c) || isInvisible(c);
}

// A character that would end or split a line or a word of the request (a
// space, a CR or LF, a C1 control such as NEL), or that stays invisible in
// the box while it changes what is sent.
bool breaksRequest(char32_t c)
{
    return QChar::isSpace(c) || QChar::category(c) == QChar::Other_Control || isInvisible(c);
}

QStringView withoutPadding(QStringView text)
{
    qsizetype units = 0;
    while (!text.isEmpty() && isPaddingAround(codePointAt(text, 0, units)))
        text = text.sliced(units);
    while (!text.isEmpty() && isPaddingAround(codePointBefore(text, text.size(), units)))
        text.chop(units);
    return text;
}

bool anyBreaksRequest(QStringView text)
{
    qsizetype units = 0;
    for (qsizetype at = 0; at < text.size(); at += units) {
        if (breaksRequest(codePointAt(text, at, units)))
            return true;
    }
    return false;
}

bool isAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// The host as the Host line carries it: a name beyond ASCII in the ASCII
// form that the name lookup uses (an A-label), a port suffix kept behind it.
// The lookup's own mapping (UTS #46) decides what of the name counts: it
// drops what renders as nothing (a zero-width space that a chat put after
// "://") and refuses what no name may hold. None when the host has no such
// form, or holds anything that would break the request.
std::optional<QString> hostOnTheWire(const QString &host)
{
    QString onTheWire = host;
    if (!isAscii(host)) {
        const qsizetype colon = host.indexOf(u':');
        const QString name = colon < 0 ? host : host.first(colon);
        const QString suffix = colon < 0 ? QString() : host.sliced(colon);
        const QString ace = QUrl::toAce(name);
        if (ace.isEmpty() || !isAscii(ace) || !isAscii(suffix))
            return std::nullopt;
        onTheWire = ace + suffix;
    }
    if (anyBreaksRequest(onTheWire))
        return std::nullopt;
    return onTheWire;
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
    // A copied link often brings blanks and a line end, a page's no-break
    // space or a chat's direction mark around it; what is left goes on the
    // wire, and must not hold anything that breaks the request apart.
    const QString link = withoutPadding(text).toString();
    parsed.RequestLink = link;
    if (!link.contains(u"v=")) {
        parsed.error = kInvalidLinkMessage;
        return parsed;
    }
    // The whole link, scheme included, and nothing cut at '&' or '#'.
    parsed.VideoId = SplitPiece(link, u"v=", 1);
    if (parsed.RequestLink.contains(u"://"))
        parsed.RequestLink = SplitPiece(parsed.RequestLink, u"://", 1);
    const QString host = parsed.RequestLink.contains(u'/') ? SplitPiece(parsed.RequestLink, u"/", 0)
                                                           : parsed.RequestLink;
    // The host is judged by the name lookup's rules; everything else of the
    // link, the id above all, must hold nothing that breaks the request.
    const qsizetype scheme = link.indexOf(u"://");
    const qsizetype hostStart = scheme < 0 ? 0 : scheme + 3;
    const QString aroundHost = link.first(hostStart) + link.sliced(hostStart + host.size());
    const std::optional<QString> onTheWire = hostOnTheWire(host);
    if (!onTheWire || anyBreaksRequest(aroundHost) || anyBreaksRequest(parsed.VideoId)) {
        parsed.error = kInvalidLinkMessage;
        return parsed;
    }
    parsed.host = *onTheWire;
    parsed.address = ConnectionAddress(parsed.host);
    return parsed;
}

QString ConnectionAddress(const QString &host)
{
    // An IPv6 literal is written in brackets (RFC 3986, 3.2.2); the
    // brackets belong to the Host line, not to the address.
    if (host.size() > 2 && host.startsWith(u'[') && host.endsWith(u']')) {
        const QString inside = host.sliced(1, host.size() - 2);
        if (QHostAddress(inside).protocol() == QAbstractSocket::IPv6Protocol)
            return inside;
    }
    return host;
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
