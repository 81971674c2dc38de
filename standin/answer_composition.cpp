#include "answer_composition.h"

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

// What a Range header asks of a representation of a given size.
struct ByteRange {
    enum Kind {
        Whole,       // no usable range: send the whole representation (200)
        Part,        // one satisfiable range: first..last (206)
        Unsatisfied, // a malformed or unsatisfiable byte range (416)
    };
    Kind kind = Whole;
    qint64 first = 0;
    qint64 last = 0;
};

// Reads a Range header as RFC 9110 asks: another unit than "bytes" and a
// set of several ranges are ignored (the whole is sent); a byte range that
// does not follow the grammar ("bytes=+1-+3", "bytes=5-2") or that lies
// beyond the end is not satisfied.
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

// Whether an If-Range value names the current representation: a strong
// entity tag equal to etag, or exactly its Last-Modified date.
bool ifRangeMatches(QByteArrayView ifRange, QByteArrayView etag, QByteArrayView lastModified)
{
    const QByteArrayView value = ifRange.trimmed();
    if (value.startsWith('"'))
        return value == etag; // a strong comparison
    if (value.startsWith("W/"))
        return false; // a weak tag never matches
    return value == lastModified;
}

// A strong entity tag that changes with the file's identity, size and time.
QByteArray entityTag(const FileFacts &file)
{
    const qint64 nanoseconds = file.modifiedSeconds * 1000000000 + file.modifiedNanoseconds;
    return '"' + QByteArray::number(file.inode, 16) + '-' + QByteArray::number(file.size, 16) + '-'
           + QByteArray::number(nanoseconds, 16) + '"';
}

} // namespace

ComposedAnswer composeAnswer(HttpResponse response, const FileFacts *file,
                             const HttpRequest &request, bool close, const QByteArray &date)
{
    ComposedAnswer composed;
    QByteArray validators;
    QByteArray contentRange;
    qint64 length = response.body.size();
    bool fileBody = file != nullptr;
    if (file) {
        const QByteArray etag = entityTag(*file);
        const QByteArray lastModified
            = httpDate(QDateTime::fromSecsSinceEpoch(file->modifiedSeconds, Qt::UTC));
        validators = "ETag: " + etag + "\r\nLast-Modified: " + lastModified
                     + "\r\nAccept-Ranges: bytes\r\n";
        length = file->size;
        const QByteArray range = request.headers.value("range");
        const QByteArray ifRange = request.headers.value("if-range");
        // Only GET has ranges; an If-Range that no longer matches asks for
        // the whole file.
        if (response.status == 200 && request.method == "GET" && !range.isNull()
            && (ifRange.isNull() || ifRangeMatches(ifRange, etag, lastModified))) {
            const ByteRange wanted = parseRange(range, file->size);
            if (wanted.kind == ByteRange::Part) {
                response.status = 206;
                composed.fileFirst = wanted.first;
                length = wanted.last - wanted.first + 1;
                contentRange = "bytes " + QByteArray::number(wanted.first) + '-'
                               + QByteArray::number(wanted.last) + '/'
                               + QByteArray::number(file->size);
            } else if (wanted.kind == ByteRange::Unsatisfied) {
                response = errorPage(416, "The requested range is not a range of the file.");
                fileBody = false;
                validators.clear();
                length = response.body.size();
                contentRange = "bytes */" + QByteArray::number(file->size);
            }
        }
    }
    composed.status = response.status;
    composed.sendsFile = fileBody && request.method != "HEAD";
    if (composed.sendsFile)
        composed.fileLength = length;

    QByteArray &out = composed.bytes;
    out.reserve(512 + response.body.size());
    out += "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status)
           + "\r\nDate: " + date + "\r\nServer: corvane-standin\r\n";
    if (!response.contentType.isEmpty())
        out += "Content-Type: " + response.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(length) + "\r\n";
    if (!contentRange.isEmpty())
        out += "Content-Range: " + contentRange + "\r\n";
    out += validators;
    for (const auto &[name, value] : std::as_const(response.headers))
        out += name + ": " + value + "\r\n";
    out += close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    if (request.method != "HEAD" && !fileBody)
        out += response.body;
    return composed;
}

} // namespace standin
