#include "http_message.h"

#include <QLocale>

namespace standin {

namespace {

// 1*DIGIT, at most 18 of them; false for anything else.
bool parseDigits(QByteArrayView text, qint64 &value)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

} // namespace

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 416:
        return "Range Not Satisfiable";
    case 421:
        return "Misdirected Request";
    case 431:
        return "Request Header Fields Too Large";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Unknown";
    }
}

QByteArray httpDate(const QDateTime &time)
{
    return QLocale::c().toString(time.toUTC(), u"ddd, dd MMM yyyy hh:mm:ss").toLatin1() + " GMT";
}

HttpResponse errorPage(int status, const QByteArray &explanation)
{
    HttpResponse response;
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    response.body = "<!DOCTYPE html>\n<title>" + QByteArray::number(status) + ' '
                    + reasonPhrase(status) + "</title>\n<h1>" + reasonPhrase(status) + "</h1>\n<p>"
                    + explanation + "</p>\n";
    return response;
}

ByteRange parseRange(QByteArrayView header, qint64 size)
{
    const qsizetype equals = header.indexOf('=');
    if (equals < 0)
        return {ByteRange::Unsatisfied};
    const QByteArray unit = header.first(equals).trimmed().toByteArray().toLower();
    if (unit != "bytes")
        return {}; // an unknown unit is ignored
    const QByteArrayView set = header.sliced(equals + 1).trimmed();
    if (set.contains(','))
        return {}; // several ranges are not served: the whole instead
    const qsizetype dash = set.indexOf('-');
    if (dash < 0)
        return {ByteRange::Unsatisfied};
    const QByteArrayView from = set.first(dash);
    const QByteArrayView to = set.sliced(dash + 1);
    qint64 first = 0;
    qint64 last = 0;
    if (from.isEmpty()) {
        // bytes=-N: the last N bytes; N = 0 is never satisfiable.
        if (!parseDigits(to, last) || last == 0 || size == 0)
            return {ByteRange::Unsatisfied};
        return {ByteRange::Part, size - std::min(last, size), size - 1};
    }
    if (!parseDigits(from, first))
        return {ByteRange::Unsatisfied};
    if (to.isEmpty())
        last = size - 1;
    else if (!parseDigits(to, last) || last < first)
        return {ByteRange::Unsatisfied};
    if (first >= size)
        return {ByteRange::Unsatisfied};
    return {ByteRange::Part, first, std::min(last, size - 1)};
}

bool ifRangeMatches(QByteArrayView ifRange, QByteArrayView etag, QByteArrayView lastModified)
{
    const QByteArrayView value = ifRange.trimmed();
    if (value.startsWith('"'))
        return value == etag; // a strong comparison
    if (value.startsWith("W/"))
        return false; // a weak tag never matches
    return value == lastModified;
}

} // namespace standin
