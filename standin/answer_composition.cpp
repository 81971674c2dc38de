#include "answer_composition.h"

#include "preconditions.h"

namespace standin {

namespace {

// 1*DIGIT; false for anything else. A number too large for 64 bits is
// read as the largest there is: past the end of any file all the same.
bool parseDigits(QByteArrayView text, qint64 &value)
{
    constexpr qint64 largest = std::numeric_limits<qint64>::max();
    if (text.isEmpty())
        return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value > (largest - (c - '0')) / 10 ? largest : value * 10 + (c - '0');
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
    Validators current{response.etag, response.lastModified};
    QByteArray validators;
    QByteArray contentRange;
    qint64 length = response.body.size();
    bool fileBody = file != nullptr;
    if (file) {
        current = {entityTag(*file), QDateTime::fromSecsSinceEpoch(file->modifiedSeconds, Qt::UTC)};
        length = file->size;
    }
    if (!current.etag.isEmpty()) {
        validators = "ETag: " + current.etag
                     + "\r\nLast-Modified: " + httpDate(current.lastModified) + "\r\n";
    }
    if (file)
        validators += "Accept-Ranges: bytes\r\n";
    // Only an answer that would be 200 is conditional.
    const Precondition precondition = response.status == 200 && !current.etag.isEmpty()
                                          ? evaluatePreconditions(request, current)
                                          : Precondition::Proceed;
    if (precondition == Precondition::Failed) {
        response = errorPage(412, "The request's precondition does not hold for this version.");
        fileBody = false;
        validators.clear();
        length = response.body.size();
    } else if (precondition == Precondition::NotModified) {
        // The validators alone: no body, and nothing that describes one.
        response = HttpResponse();
        response.status = 304;
        fileBody = false;
    }
    if (file && response.status == 200) {
        const QByteArray range = request.headers.value("range");
        const QByteArray ifRange = request.headers.value("if-range");
        // Only GET has ranges; an If-Range that no longer matches asks for
        // the whole file, and an empty one matches nothing.
        if (request.method == "GET" && !range.isNull()
            && (!request.headers.contains("if-range") || ifRangeHolds(ifRange, current))) {
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
    if (response.status != 304)
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
