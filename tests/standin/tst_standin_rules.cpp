#include "answer_composition.h"
#include "request_rules.h"

#include <QTest>

using namespace standin;

namespace {

// A file of 1000 bytes last changed on Sun, 06 Nov 1994 08:49:37.000000005 GMT.
const FileFacts kFile{1000, 0x2a, 784111777, 5};
const QByteArray kTag = "\"2a-3e8-ae1b981bc490a05\"";
const QByteArray kDate = "Sun, 06 Nov 1994 08:49:37 GMT";

// "VERDICT PATH-OR-STATUS", then the query as "?NAME=VALUE" and the headers but
// Host, sorted.
QByteArray describe(const RequestDecision &decision)
{
    const char *verdicts[] = {"serve ", "answer ", "refuse "};
    const HttpRequest &request = decision.request;
    QByteArrayList words;
    for (auto it = request.query.cbegin(); it != request.query.cend(); ++it)
        words << '?' + it.key() + '=' + it.value();
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it) {
        if (it.key() != "host")
            words << it.key() + ": " + it.value();
    }
    std::sort(words.begin(), words.end());
    const QByteArray what = decision.status ? QByteArray::number(decision.status) : request.path;
    return QByteArray(verdicts[int(decision.verdict)] + what + ' ' + words.join(' ')).trimmed();
}

} // namespace

class TestStandinRules : public QObject {
    Q_OBJECT

private slots:
    void requests_data();
    void requests();
    void answers_data();
    void answers();
};

void TestStandinRules::requests_data()
{
    QTest::addColumn<QByteArray>("line"); // "METHOD TARGET HTTP/M.N", to 127.0.0.1:80
    QTest::addColumn<QByteArrayList>("fields");
    QTest::addColumn<QByteArray>("decision");

    const QByteArray h = "Host: localhost";
    const QByteArrayList host{h};
    const auto row = [](const char *name, const char *line, const QByteArrayList &fields,
                        const char *decision) {
        QTest::newRow(name) << QByteArray(line) << fields << QByteArray(decision);
    };
    row("query form-decoded", "GET /get_video_info?video_id=Ab&t=a+b%2B%3D= HTTP/1.1", host,
        "serve /get_video_info ?t=a b+== ?video_id=Ab");
    row("path decoded but %2F", "GET /a%20b%2Fc%2f HTTP/1.1", host, "serve /a b%2Fc%2F");
    row("a climbing path", "GET /a/%2E%2E/b HTTP/1.1", host, "refuse 400");
    row("absolute, this server", "HEAD http://127.0.0.1:80/x?y=1 HTTP/1.1", host, "serve /x ?y=1");
    row("absolute, localhost, a query", "GET http://LOCALHOST?y=1 HTTP/1.1", host, "serve / ?y=1");
    row("absolute, another port", "GET http://127.0.0.1:81/ HTTP/1.1", host, "answer 421");
    row("absolute, another scheme", "GET https://127.0.0.1/ HTTP/1.1", host, "refuse 400");
    row("absolute, user info", "GET http://a@127.0.0.1/ HTTP/1.1", host, "refuse 400");
    row("no Host", "GET / HTTP/1.1", {}, "refuse 400");
    row("two Hosts", "GET / HTTP/1.1", host + host, "refuse 400");
    row("a Host that is no authority", "GET / HTTP/1.1", {"Host: a/b"}, "refuse 400");
    row("HTTP/2.0", "GET / HTTP/2.0", host, "refuse 505");
    row("HTTP/0.9", "GET / HTTP/0.9", host, "refuse 400");
    row("a name that is no token", "GET / HTTP/1.1", {h, "X(A): b"}, "refuse 400");
    row("names in lower case, repeats joined, trailing blanks cut", "GET / HTTP/1.1",
        {h, "X-B: 1 \t", "x-b: 2"}, "serve / x-b: 1, 2");
}

void TestStandinRules::requests()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArrayList, fields);
    QFETCH(QByteArray, decision);

    const QByteArrayList words = line.split(' ');
    ParsedRequest parsed;
    parsed.method = words[0];
    parsed.target = words[1];
    parsed.major = words[2].mid(5, 1).toInt();
    parsed.minor = words[2].mid(7, 1).toInt();
    for (const QByteArray &field : fields)
        parsed.fields.append({field.left(field.indexOf(':')), field.mid(field.indexOf(':') + 2)});
    QCOMPARE(describe(decideRequest(parsed, QHostAddress::LocalHost, 80)), decision);
}

void TestStandinRules::answers_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("range"); // none when empty
    QTest::addColumn<QByteArray>("ifRange");
    QTest::addColumn<QByteArray>("outcome"); // "STATUS [CONTENT-RANGE] FIRST+LENGTH" of the file
    QTest::addColumn<QByteArray>("bytes");   // the whole answer, when given

    const auto row = [](const char *name, const QByteArray &range, const QByteArray &ifRange,
                        const char *outcome, const QByteArray &bytes = {}) {
        QTest::newRow(name) << QByteArray("GET") << range << ifRange << QByteArray(outcome)
                            << bytes;
    };
    const QByteArray head
        = "HTTP/1.1 206 Partial Content\r\nDate: D\r\nServer: corvane-standin\r\n"
          "Content-Type: video/webm\r\nContent-Length: 2\r\n"
          "Content-Range: bytes 1-2/1000\r\nETag: "
          + kTag + "\r\nLast-Modified: " + kDate
          + "\r\nAccept-Ranges: bytes\r\nX-Name: a\r\nConnection: keep-alive\r\n\r\n";
    row("last bytes", "bytes=-4", {}, "206 bytes 996-999/1000 996+4");
    row("capitals, cut at the end", "BYTES=990-99999", {}, "206 bytes 990-999/1000 990+10");
    row("If-Range: the ETag", "bytes=1-2", kTag, "206 bytes 1-2/1000 1+2", head);
    row("If-Range: the date", "bytes=1-2", kDate, "206 bytes 1-2/1000 1+2");
    for (const char *unsatisfiable : {"bytes=+1-+3", "bytes=5-2", "bytes=-0"})
        row(unsatisfiable, unsatisfiable, {}, "416 bytes */1000 0+0");
    row("beyond the end", "bytes=1000-", {}, "416 bytes */1000 0+0",
        "HTTP/1.1 416 Range Not Satisfiable\r\nDate: D\r\nServer: corvane-standin\r\n"
        "Content-Type: text/html; charset=utf-8\r\nContent-Length: 143\r\n"
        "Content-Range: bytes */1000\r\nConnection: keep-alive\r\n\r\n"
        "<!DOCTYPE html>\n<title>416 Range Not Satisfiable</title>\n"
        "<h1>Range Not Satisfiable</h1>\n<p>The requested range is not a range of the "
        "file.</p>\n");
    row("another unit", "items=0-1", {}, "200 0+1000");
    row("several ranges", "bytes=0-1,3-4", {}, "200 0+1000");
    row("If-Range: a weak tag", "bytes=1-2", "W/" + kTag, "200 0+1000");
    row("If-Range: another tag", "bytes=1-2", "\"x\"", "200 0+1000");
    row("If-Range: an old date", "bytes=1-2", "Thu, 01 Jan 1970 00:00:00 GMT", "200 0+1000");
    QTest::newRow("HEAD") << QByteArray("HEAD") << QByteArray("bytes=1-2") << QByteArray()
                          << QByteArray("200 0+0")
                          << QByteArray(head)
                                 .replace("206 Partial Content", "200 OK")
                                 .replace("2\r\nContent-Range: bytes 1-2/1000", "1000");
}

// The file's answer, with a field of its own.
void TestStandinRules::answers()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, range);
    QFETCH(QByteArray, ifRange);
    QFETCH(QByteArray, outcome);
    QFETCH(QByteArray, bytes);

    HttpRequest request{method, "/", "/", {}, {{"range", range}, {"if-range", ifRange}}};
    request.headers.removeIf([](auto field) { return field.value().isEmpty(); });
    HttpResponse response{200, "video/webm", {{"X-Name", "a"}}, {}, {}};
    const ComposedAnswer answer = composeAnswer(response, &kFile, request, false, "D");
    const qsizetype at = answer.bytes.indexOf("\r\nContent-Range: ");
    QByteArrayList words{QByteArray::number(answer.status)};
    if (at >= 0)
        words << answer.bytes.mid(at + 17).split('\r').first();
    words << QByteArray::number(answer.fileFirst) + '+' + QByteArray::number(answer.fileLength);
    QCOMPARE(words.join(' '), outcome);
    QCOMPARE(answer.sendsFile, answer.fileLength > 0);
    if (!bytes.isEmpty())
        QCOMPARE(answer.bytes, bytes);
}

QTEST_GUILESS_MAIN(TestStandinRules)
#include "tst_standin_rules.moc"
