#pragma once

#include <QByteArrayList>
#include <QDateTime>
#include <QLocale>

// The stand-in's answers: a request's bytes, then the status and the head's
// lines that matter ("!Name": no such field). tst_standin_rules answers all
// rows without a socket, with a file of 1000 bytes; tst_standin sends the
// Wire rows, where the framing matters, to the running stand-in.
// {H} is " HTTP/1.1", Host: localhost; {GET} "GET {file}{H}"; {file} and
// {info} are targets; {tag}, {date} ({dateAsc}), {size}, {last}
// the file's ETag, Last-Modified, size and last byte; {long} 9000 letters;
// {8KiB} as many as make "GET /{H}X-Long: {8KiB}" 8 KiB as the parser counts;
// {1990} a date long before the file's; {NUL} a NUL byte; {close} the line
// "Connection: close".
// X-Request: what tst_standin_rules read a request as, for other paths.
enum RowWhere { Rules, Wire };

struct AnswerRow {
    const char *name;
    RowWhere where;
    const char *request;
    const char *answer; // "STATUS | Field: value | !Field"
};

inline const AnswerRow kAnswerRows[] = {
    // The request line, the fields, Host and the target.
    {"an empty Host", Wire, "GET / HTTP/1.1\r\nHost:\r\n\r\n", "404"},
    {"empty values", Rules, "{GET}X-Empty:\r\nReferer: \r\n\r\n", "200 | Content-Length: {size}"},
    {"a folded line", Wire, "GET /{H}X-A: a\r\n b: c\r\n\r\n", "400 | {close}"},
    {"a folded empty line", Rules, "GET /{H}X-A:\r\n \r\n\r\n", "400 | {close}"},
    {"no Host, to HEAD", Rules, "HEAD / HTTP/1.1\r\n\r\n", "400 | {close}"},
    {"two Hosts", Rules, "GET /{H}Host: localhost\r\n\r\n", "400 | {close}"},
    {"a Host that is no authority", Rules, "GET / HTTP/1.1\r\nHost: a/b\r\n\r\n", "400 | {close}"},
    {"a name that is no token, to HEAD", Rules, "HEAD /{H}X(A): b\r\n\r\n", "400 | {close}"},
    {"space before the colon", Wire, "GET / HTTP/1.1\r\nHost : localhost\r\n\r\n", "400 | {close}"},
    {"NUL in a value", Wire, "GET /{H}X-Note: a{NUL}b\r\n\r\n", "400 | {close}"},
    {"bare LF line ends", Wire, "GET / HTTP/1.1\nHost: a\n\n", "400 | {close}"},
    {"bare CR line ends", Wire, "GET / HTTP/1.1\rHost: a\r\r", "400 | {close}"},
    {"duplicate Content-Length", Wire,
     "GET /{H}Content-Length: 0\r\nContent-Length: 36\r\n\r\nGET {info}{H}\r\n", "400 | {close}"},
    {"Content-Length and chunked", Wire,
     "GET /{H}Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", "400 | {close}"},
    {"a body", Wire, "POST /{H}Content-Length: 3\r\n\r\nabc", "400 | {close}"},
    {"a head of 8 KiB", Rules, "GET /{H}X-Long: {8KiB}\r\n\r\n", "404"},
    {"a head over 8 KiB", Wire, "GET /{H}X-Long: {8KiB}a\r\n\r\n", "431 | {close}"},
    {"a 9000-byte target", Wire, "GET /{long}{H}\r\n", "414 | {close}"},
    {"HTTP/1.2", Wire, "GET / HTTP/1.2\r\nHost: localhost\r\n\r\n", "505 | {close}"},
    {"HTTP/0.9", Wire, "GET /get_video_info\r\n", "400 | {close}"},
    {"HTTP/1.0 closes", Wire, "GET / HTTP/1.0\r\n\r\n", "404 | {close}"},
    {"an unknown method", Wire, "FOO /{H}\r\n", "501 | {close}"},
    {"a known method's start, then no token", Rules, "FO\x01 /{H}\r\n", "400 | {close}"},
    {"another method", Wire, "DELETE /{H}\r\n", "405 | Allow: GET, HEAD | {close}"},
    {"CONNECT", Wire, "CONNECT localhost:80{H}\r\n", "405 | Allow: GET, HEAD | {close}"},
    {"OPTIONS *", Rules, "OPTIONS *{H}\r\n", "405 | Allow: GET, HEAD | {close}"},
    {"path decoded but %2F, query form-decoded, fields lower-cased, joined, trimmed", Rules,
     "GET /a%20b%2Fc%2f?video_id=Ab&t=a+b%2B%3D={H}X-B: 1 \t\r\nx-b: 2\r\n\r\n",
     "404 | X-Request: /a b%2Fc%2F ?t=a b+== ?video_id=Ab x-b: 1, 2"},
    {"absolute, this server", Rules, "HEAD http://127.0.0.1:80/x?y=1{H}\r\n",
     "404 | X-Request: /x ?y=1"},
    {"absolute, localhost, a query", Rules, "GET http://LOCALHOST?y=1{H}\r\n",
     "404 | X-Request: / ?y=1"},
    {"a climbing path", Rules, "GET /a/%2E%2E/b{H}\r\n", "400 | {close}"},
    {"absolute, no host", Rules, "GET http:///get_video_info?video_id=x{H}\r\n", "400 | {close}"},
    {"absolute, another port", Rules, "GET http://127.0.0.1:81/{H}\r\n", "421"},
    {"absolute, another host", Wire, "GET http://other.example/{H}\r\n", "421"},
    {"absolute, another scheme", Rules, "GET https://127.0.0.1/{H}\r\n", "400 | {close}"},
    {"absolute, user info", Rules, "GET http://a@127.0.0.1/{H}\r\n", "400 | {close}"},

    // Byte ranges of the file.
    {"the last bytes", Rules, "{GET}Range: bytes=-4\r\n\r\n",
     "206 | Content-Range: bytes 996-999/1000 | Content-Length: 4"},
    {"capitals, cut at the end", Rules, "{GET}Range: BYTES=990-99999\r\n\r\n",
     "206 | Content-Range: bytes 990-999/1000"},
    {"to a 19-digit end", Wire, "{GET}Range: bytes=0-9999999999999999999\r\n\r\n",
     "206 | Content-Range: bytes 0-{last}/{size}"},
    {"a 19-digit suffix", Rules, "{GET}Range: bytes=-9999999999999999999\r\n\r\n",
     "206 | Content-Range: bytes 0-999/1000"},
    {"+1-+3", Rules, "{GET}Range: bytes=+1-+3\r\n\r\n",
     "416 | Content-Range: bytes */1000 | !ETag"},
    {"5-2", Rules, "{GET}Range: bytes=5-2\r\n\r\n", "416"},
    {"-0", Rules, "{GET}Range: bytes=-0\r\n\r\n", "416"},
    {"beyond the end", Rules, "{GET}Range: bytes=1000-\r\n\r\n",
     "416 | Content-Type: text/html; charset=utf-8 | Content-Length: 143"},
    {"another unit", Rules, "{GET}Range: items=0-1\r\n\r\n",
     "200 | Content-Length: 1000 | !Content-Range"},
    {"several ranges", Rules, "{GET}Range: bytes=0-1,3-4\r\n\r\n", "200"},
    {"HEAD, a range", Rules, "HEAD {file}{H}Range: bytes=1-2\r\n\r\n",
     "200 | Content-Length: 1000 | ETag: {tag} | Last-Modified: {date} | Accept-Ranges: bytes"},
    {"If-Range: the ETag", Rules, "{GET}Range: bytes=1-2\r\nIf-Range: {tag}\r\n\r\n",
     "206 | Content-Range: bytes 1-2/1000 | ETag: {tag} | Connection: keep-alive"},
    {"If-Range: asctime", Rules, "{GET}Range: bytes=1-2\r\nIf-Range: {dateAsc}\r\n\r\n", "206"},
    {"If-Range: a weak tag", Rules, "{GET}Range: bytes=1-2\r\nIf-Range: W/{tag}\r\n\r\n", "200"},
    {"If-Range: another tag", Rules, "{GET}Range: bytes=1-2\r\nIf-Range: \"x\"\r\n\r\n", "200"},
    {"If-Range: an old date", Rules, "{GET}Range: bytes=1-2\r\nIf-Range: {1990}\r\n\r\n", "200"},
    {"If-Range: empty", Rules, "{GET}Range: bytes=1-2\r\nIf-Range:\r\n\r\n", "200"},

    // Preconditions, each alone, then together in their order.
    {"If-None-Match: the tag", Wire, "{GET}If-None-Match: {tag}\r\n\r\n",
     "304 | ETag: {tag} | Last-Modified: {date} | !Content-Length | !Content-Type"},
    {"HEAD, If-None-Match: weak", Rules, "HEAD {file}{H}If-None-Match: W/{tag}\r\n\r\n", "304"},
    {"If-None-Match: a list", Rules, "{GET}If-None-Match: \"x\", \"a,b\" ,{tag}\r\n\r\n", "304"},
    {"info, If-None-Match: *", Wire, "GET {info}{H}If-None-Match: *\r\n\r\n",
     "304 | !Content-Length"},
    {"If-Modified-Since: asctime", Wire, "{GET}If-Modified-Since: {dateAsc}\r\n\r\n", "304"},
    {"If-Modified-Since: 1990", Rules, "{GET}If-Modified-Since: {1990}\r\n\r\n", "200"},
    {"If-Match: another tag", Wire, "{GET}If-Match: \"nope\"\r\n\r\n",
     "412 | Content-Type: text/html; charset=utf-8 | !ETag | !Content-Range"},
    {"If-Match: the weak tag", Rules, "{GET}If-Match: W/{tag}\r\n\r\n", "412"},
    {"If-Match: *", Rules, "{GET}If-Match: *\r\n\r\n", "200"},
    {"If-Match: empty", Rules, "{GET}If-Match: \r\n\r\n", "412"},
    {"If-Match: another tag, the info", Wire, "GET {info}{H}If-Match: \"nope\"\r\n\r\n", "412"},
    {"If-Unmodified-Since: 1990", Wire,
     "{GET}If-Unmodified-Since: Sunday, 07-Jan-90 00:00:00 GMT\r\n\r\n", "412"},
    {"If-Unmodified-Since: the date", Rules, "{GET}If-Unmodified-Since: {date}\r\n\r\n", "200"},
    {"If-Match fails before If-None-Match", Rules,
     "{GET}If-None-Match: {tag}\r\nIf-Match: \"x\"\r\n\r\n", "412"},
    {"If-Match holds, If-Unmodified-Since ignored", Rules,
     "{GET}If-Unmodified-Since: {1990}\r\nIf-Match: \"x\", {tag}\r\n\r\n", "200"},
    {"If-Unmodified-Since fails before If-None-Match", Rules,
     "{GET}If-None-Match: {tag}\r\nIf-Unmodified-Since: {1990}\r\n\r\n", "412"},
    {"If-None-Match misses, If-Modified-Since ignored", Rules,
     "{GET}If-Modified-Since: {date}\r\nIf-None-Match: \"x\"\r\n\r\n", "200"},
    {"If-None-Match: empty, If-Modified-Since ignored", Rules,
     "{GET}If-Modified-Since: {date}\r\nIf-None-Match:\r\n\r\n", "200"},
    {"If-None-Match holds before If-Range", Rules,
     "{GET}Range: bytes=1-2\r\nIf-Range: {tag}\r\nIf-None-Match: {tag}\r\n\r\n", "304"},
};

// The file's values a row's text stands for.
struct RowValues {
    QByteArray file;
    QByteArray tag;
    QDateTime modified;
    qint64 size = 0;
};

inline QByteArray fillIn(const char *text, const RowValues &v)
{
    const QLocale c = QLocale::c();
    const QDateTime m = v.modified.toUTC();
    const QString day = QString::number(m.date().day()).rightJustified(2, u' ');
    return QByteArray(text)
        .replace("{GET}", "GET {file}{H}")
        .replace("{1990}", "Mon, 01 Jan 1990 00:00:00 GMT")
        .replace("{close}", "Connection: close")
        .replace("{H}", " HTTP/1.1\r\nHost: localhost\r\n")
        .replace("{file}", v.file)
        .replace("{info}", "/get_video_info?video_id=Demo1Clip01")
        .replace("{tag}", v.tag)
        .replace("{date}", c.toString(m, u"ddd, dd MMM yyyy hh:mm:ss 'GMT'").toLatin1())
        .replace("{dateAsc}", c.toString(m, "ddd MMM '" + day + "' hh:mm:ss yyyy").toLatin1())
        .replace("{size}", QByteArray::number(v.size))
        .replace("{last}", QByteArray::number(v.size - 1))
        .replace("{long}", QByteArray(9000, 'a'))
        .replace("{8KiB}", QByteArray(8 * 1024 - 28, 'a'))
        .replace("{NUL}", QByteArray(1, '\0'));
}

// Whether answer has the row's status and head lines; else what it lacks.
inline QByteArray answerMisses(const QByteArray &answer, const QByteArray &expected)
{
    const QByteArray head = "\r\n" + answer.left(answer.indexOf("\r\n\r\n") + 2);
    for (const QByteArray &item : expected.split('|')) {
        const QByteArray line = item.trimmed();
        const bool absent = line.startsWith('!');
        QByteArray wanted = absent ? "\r\n" + line.mid(1) + ": " : "\r\n" + line + "\r\n";
        if (line.size() == 3 && line.toInt() > 0)
            wanted = "\r\nHTTP/1.1 " + line + ' ';
        if (head.contains(wanted) == absent)
            return line + " in\n" + head;
    }
    return {};
}
