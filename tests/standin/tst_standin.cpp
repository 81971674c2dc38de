#include "answer_rows.h"
#include "child_process.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <unistd.h>

namespace {

constexpr const char *kTitles[][3] = {
    {"Caf\xc3\xa9 de Paris", "Caf_ de Paris.webm", "Caf%C3%A9%20de%20Paris.webm"},
    {"../..\\a/\x01: \"b\"<>|?* . .", "_.._a___ _b______.webm", "_.._a___%20_b______.webm"},
    {"Lpt1 .txt", "_Lpt1 .txt.webm", "_Lpt1%20.txt.webm"},
    {"CONSOLE", "CONSOLE.webm", "CONSOLE.webm"},
    {" ... ", "video.webm", "video.webm"},
};

const QByteArray kDownload = "/download/index.php?video_id=";

// A client on a plain socket, for bytes no HTTP client sends; each wait ends after 5 s.
struct RawClient {
    explicit RawClient(quint16 port)
    {
        const timeval timeout{5, 0};
        for (const int option : {SO_RCVTIMEO, SO_SNDTIMEO})
            ::setsockopt(fd, SOL_SOCKET, option, &timeout, sizeof timeout);
        const sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    }
    ~RawClient() { ::close(fd); }
    auto send(const QByteArray &b) { return ::send(fd, b.data(), size_t(b.size()), MSG_NOSIGNAL); }
    // The whole replies until the peer closes or the time is up (closed says which).
    QByteArrayList readAll()
    {
        while (rest.size() < 64 * 1024 * 1024) {
            char block[16384];
            const ssize_t n = ::recv(fd, block, sizeof block, 0);
            closed = n == 0 || (n < 0 && errno != EAGAIN);
            if (n <= 0)
                break;
            rest.append(block, n);
        }
        QByteArrayList replies;
        for (qsizetype end = rest.indexOf("\r\n\r\n"); end >= 0; end = rest.indexOf("\r\n\r\n")) {
            const QByteArray head = rest.left(end);
            const qsizetype size
                = head.mid(head.indexOf("\r\nContent-Length: ") + 18).split('\r')[0].toLongLong();
            if (rest.size() < end + 4 + size)
                break;
            replies << rest.left(end + 4 + size);
            rest.remove(0, end + 4 + size);
        }
        return replies;
    }

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool closed = false;
    QByteArray rest; // read and no whole reply
};

QByteArray request(const QByteArray &target, const QByteArray &fields = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + fields + "\r\n";
}

// The video's token from the info endpoint, asked on a connection of its own.
QByteArray token(const QByteArray &id)
{
    RawClient client(80);
    client.send(request("/get_video_info?video_id=" + id, "Connection: close\r\n"));
    const QByteArray info = client.readAll().value(0);
    const qsizetype at = info.indexOf("&token=");
    return at < 0 ? QByteArray() : info.mid(at + 7).split('&').first();
}

} // namespace

class TestStandin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase()
    {
        standin_.terminate();
        standin_.waitForFinished(3000);
    }
    void requests_data();
    void requests();
    void realClients_data();
    void realClients();

private:
    QTemporaryDir media_;
    QProcess standin_;
};

void TestStandin::initTestCase()
{
    // The catalog, with videos that have awkward titles, and one more.
    QFile list(media_.filePath(QStringLiteral("catalog.tsv")));
    QFile large(media_.filePath(QStringLiteral("large.webm")));
    const QString demo = media_.filePath(QStringLiteral("demo.webm"));
    QVERIFY(QFile::copy(CORVANE_STANDIN_CATALOG "/corvane-demo.webm", demo));
    QVERIFY(QFile::copy(demo, media_.filePath(QStringLiteral("demo.WEBM"))));
    QVERIFY(list.open(QIODevice::WriteOnly));
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(1024));
    list.write("Demo1Clip01\t3\tdemo.WEBM\tCorvane demo clip\nLarge\t1\tlarge.webm\tL\n");
    for (int i = 0; i < int(std::size(kTitles)); ++i)
        list.write("Name" + QByteArray::number(i) + "\t1\tdemo.webm\t" + kTitles[i][0] + '\n');
    list.close();

    // With an address it cannot take, which it goes on without; waiting 2 s
    // for a request and longer for a client to close than a RawClient waits.
    endWithThisProcess(standin_);
    standin_.start(QStringLiteral(CORVANE_STANDIN_PATH),
                   {"--media", media_.path(), "--listen", "192.0.2.1:0", "--listen", "127.0.0.1:80",
                    "--listen", "[::1]:8080", "--timeouts", "2000,30000,10000"});
    QByteArray output;
    QVERIFY(QTest::qWaitFor(
        [&] { return (output += standin_.readAllStandardOutput()).endsWith("\n"); }, 5000));
    QVERIFY2(output.endsWith("listening on 127.0.0.1:80, [::1]:8080\n"), output);
}

void TestStandin::requests_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("answer"); // the first reply, as in kAnswerRows; none when empty
    QTest::addColumn<QByteArray>("body");   // of the first reply, when given
    QTest::addColumn<bool>("shut");         // we half-close after the bytes

    const auto row = [](const QByteArray &name, const QByteArray &bytes, const QByteArray &answer,
                        const QByteArray &body = {}, bool shut = false) {
        QTest::newRow(name.constData()) << bytes << answer << body << shut;
    };
    QFile demo(media_.filePath(QStringLiteral("demo.WEBM")));
    QVERIFY(demo.open(QIODevice::ReadOnly));
    const QByteArray video = demo.readAll();
    const QByteArray file = kDownload + "Demo1Clip01&id=" + token("Demo1Clip01");
    RowValues values{file, {}, demo.fileTime(QFileDevice::FileModificationTime), video.size()};
    RawClient first(80);
    first.send(request(file, "Range: bytes=0-0\r\nConnection: close\r\n"));
    values.tag = '"' + first.readAll().value(0).split('"').value(1) + '"'; // the head's first quote

    // The download, a range of it while half-closing, file names made of titles.
    row("another video's token", request(kDownload + "Large&id=" + token("Demo1Clip01")), "403");
    row("unknown video (an id in another case)",
        request(kDownload + "demo1clip01&id=" + token("Demo1Clip01")), "404");
    row("half-closed after a range of the download",
        request(file, "Range: bytes=10-19\r\nAccept-Encoding: gzip, br\r\n"),
        "206 | Content-Type: video/webm | Content-Range: bytes 10-19/"
            + QByteArray::number(video.size()),
        video.mid(10, 10), true);
    for (int i = 0; i < int(std::size(kTitles)); ++i) {
        const QByteArray id = "Name" + QByteArray::number(i);
        row(kTitles[i][1], request(kDownload + id + "&id=" + token(id)),
            "200 | Content-Disposition: attachment; filename=\"" + QByteArray(kTitles[i][1])
                + "\"; filename*=UTF-8''" + kTitles[i][2],
            video);
    }
    for (const AnswerRow &answer : kAnswerRows) {
        if (answer.where == Wire)
            row(answer.name, fillIn(answer.request, values), fillIn(answer.answer, values));
    }
    row("half-closed mid-request", request("/").chopped(2), {}, {}, true);
    row("stalled mid-request", request("/").chopped(2), "408 | Connection: close");
}

// The row's bytes, then a request that says close and one left unanswered; or a half-close;
// or nothing, for a row answered 408.
void TestStandin::requests()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, body);
    QFETCH(bool, shut);

    RawClient client(80);
    const QByteArray after
        = request("/", "Connection: close\r\n").repeated(shut || answer.startsWith("408") ? 0 : 2);
    QCOMPARE(client.send(bytes + after), bytes.size() + after.size());
    QVERIFY(!shut || ::shutdown(client.fd, SHUT_WR) == 0);
    const QByteArrayList got = client.readAll();
    QVERIFY(client.closed && client.rest.isEmpty());
    // An answer that does not close says keep-alive, and the next request is answered.
    const bool closes = shut || answer.contains("Connection: close");
    QCOMPARE(got.size(), answer.isEmpty() ? 0 : (closes ? 1 : 2));
    const QByteArray first = answer + (closes ? "" : " | Connection: keep-alive");
    QCOMPARE(answer.isEmpty() ? "" : answerMisses(got.value(0), first), "");
    QCOMPARE(closes ? "" : answerMisses(got[1], "404 | Connection: close"), "");
    QVERIFY(body.isEmpty() || got.value(0).endsWith("\r\n\r\n" + body));
}

void TestStandin::realClients_data()
{
    QTest::addColumn<QString>("script"); // for sh in an empty folder; $URL: the download of $VIDEO
    QTest::addColumn<QByteArray>("output");

    const auto row = [](const char *name, const QString &script, const QByteArray &output) {
        QTest::newRow(name) << script << output;
    };
    const QString cut = QStringLiteral("head -c 4321 \"$VIDEO\" >v && ");
    const QString same = QStringLiteral(" && cmp v \"$VIDEO\" && echo same");
    row("curl -C -", cut + "curl -sS -C - -o v -w '%{http_code} ' \"$URL\"" + same, "206 same\n");
    row("wget -c", cut + "wget -qSc -O v \"$URL\" 2>&1 | grep -o ' 206 '" + same, " 206 \nsame\n");
    row("curl --etag-compare",
        "curl -sS --etag-save t -o v \"$URL\" && curl -sS --etag-compare t -w %{http_code} "
        "\"$URL\"",
        "304");
    row("curl -z (its status line: curl itself shows an old 200 as 304)",
        "curl -sS -R -o v \"$URL\" && curl -sS -z v -D h \"$URL\" && head -c12 h", "HTTP/1.1 304");
    row("curl, 100 downloads on one connection",
        "for i in $(seq 100); do set -- \"$@\" -o /dev/null \"$URL\"; done; "
        "curl -sS -w '%{http_code}/%{num_connects} ' \"$@\"",
        "200/1 " + QByteArray("200/0 ").repeated(99));
}

// curl and wget resume a download cut in the middle and ask again for one they have.
void TestStandin::realClients()
{
    QFETCH(QString, script);
    QFETCH(QByteArray, output);

    QTemporaryDir folder;
    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("no_proxy", "127.0.0.1");
    environment.insert("VIDEO", media_.filePath(QStringLiteral("demo.webm")));
    environment.insert("URL",
                       "http://127.0.0.1" + kDownload + "Demo1Clip01&id=" + token("Demo1Clip01"));
    client.setProcessEnvironment(environment);
    client.setWorkingDirectory(folder.path());
    client.start(QStringLiteral("sh"), {"-c", script});
    QVERIFY(client.waitForFinished(20000));
    QCOMPARE(client.readAllStandardError(), QByteArray());
    QCOMPARE(client.readAllStandardOutput(), output);
}

QTEST_GUILESS_MAIN(TestStandin)
#include "tst_standin.moc"
