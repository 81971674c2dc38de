#include "child_process.h"

#include <QLocale>
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
    QVERIFY(list.open(QIODevice::WriteOnly));
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(1024));
    list.write("Demo1Clip01\t3\tdemo.webm\tCorvane demo clip\nLarge\t1\tlarge.webm\tL\n");
    for (int i = 0; i < int(std::size(kTitles)); ++i)
        list.write("Name" + QByteArray::number(i) + "\t1\tdemo.webm\t" + kTitles[i][0] + '\n');
    list.close();

    // With an address it cannot take, which it goes on without.
    endWithThisProcess(standin_);
    standin_.start(
        QStringLiteral(CORVANE_STANDIN_PATH),
        {"--media", media_.path(), "--listen", "192.0.2.1:0", "--listen", "127.0.0.1:80"});
    QByteArray output;
    QVERIFY(QTest::qWaitFor(
        [&] { return (output += standin_.readAllStandardOutput()).contains("listening on "); },
        5000));
}

void TestStandin::requests_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("statuses");   // of every reply; "shut": we half-close
    QTest::addColumn<QByteArrayList>("fields"); // lines of the first reply's head
    QTest::addColumn<QByteArray>("body");       // of the first reply, when given

    const auto row = [](const QByteArray &name, const QByteArray &bytes, const char *statuses,
                        const QByteArrayList &fields = {}, const QByteArray &body = {}) {
        QTest::newRow(name.constData()) << bytes << QByteArray(statuses) << fields << body;
    };
    QFile demo(media_.filePath(QStringLiteral("demo.webm")));
    QVERIFY(demo.open(QIODevice::ReadOnly));
    const QByteArray video = demo.readAll();
    const QDateTime time = demo.fileTime(QFileDevice::FileModificationTime).toUTC();
    const QString modified = QLocale::c().toString(time, u"ddd, dd MMM yyyy hh:mm:ss 'GMT'");
    const QByteArray info = request("/get_video_info?video_id=Demo1Clip01");
    const QByteArray line = info.first(info.indexOf("Host"));
    const QByteArray host = "Host: localhost\r\n";
    const QByteArray file = kDownload + "Demo1Clip01&id=" + token("Demo1Clip01");

    // The download, a range of it while half-closing, file names made of titles.
    row("another video's token", request(kDownload + "Large&id=" + token("Demo1Clip01")),
        "403 404");
    row("unknown video", request(kDownload + "Nope&id=x"), "404 404");
    row("half-closed after a range of the download",
        request(file, "Range: bytes=10-19\r\nAccept-Encoding: gzip, br\r\n"), "shut 206",
        {"Content-Type: video/webm", "Last-Modified: " + modified.toLatin1(),
         "Content-Range: bytes 10-19/" + QByteArray::number(video.size())},
        video.mid(10, 10));
    for (int i = 0; i < int(std::size(kTitles)); ++i) {
        const QByteArray id = "Name" + QByteArray::number(i);
        const QByteArray name = kTitles[i][1];
        row(name, request(kDownload + id + "&id=" + token(id)), "200 404",
            {"Content-Disposition: attachment; filename=\"" + name + "\"; filename*=UTF-8''"
             + kTitles[i][2]},
            video);
    }

    // Shapes that smuggle a request past a front end, and bytes strict parsing refuses.
    const QByteArray chunked = "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n";
    row("duplicate Content-Length",
        line + host + "Content-Length: 0\r\nContent-Length: 56\r\n\r\n" + info, "400");
    row("Content-Length and chunked", line + host + chunked, "400");
    row("fold line, which the parser hands on", line + host + "X-A: a\r\n b: c\r\n\r\n", "400");
    row("space before the colon", line + "Host : localhost\r\n\r\n", "400");
    row("NUL in a value", line + host + QByteArray("X-Note: a\0b\r\n\r\n", 15), "400");
    row("bare LF line ends", "GET / HTTP/1.1\nHost: a\n\n", "400");
    row("bare CR line ends", "GET / HTTP/1.1\rHost: a\r\r", "400");
    row("head over 8 KiB", request("/", "X-Long: " + QByteArray(9000, 'a') + "\r\n"), "431");
    row("endless request line", "GET /" + QByteArray(20000, 'a'), "431");
    row("a body", "POST / HTTP/1.1\r\n" + host + "Content-Length: 3\r\n\r\nabc", "400");
    row("other method", "DELETE / HTTP/1.1\r\n" + host + "\r\n", "405", {"Allow: GET, HEAD"});
    row("another host, absolute", "GET http://other.example/ HTTP/1.1\r\n" + host + "\r\n",
        "421 404");
    row("HTTP/1.0 closes", "GET / HTTP/1.0\r\n\r\n", "404");
    row("half-closed mid-request", line + host, "shut");
}

// After the row's bytes, a request that says close and one that must go unanswered; or a
// half-close. Every reply but one that closes says keep-alive.
void TestStandin::requests()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, statuses);
    QFETCH(QByteArrayList, fields);
    QFETCH(QByteArray, body);

    RawClient client(80);
    const bool shut = statuses.startsWith("shut");
    const QByteArray after = request("/", "Connection: close\r\n").repeated(shut ? 0 : 2);
    QCOMPARE(client.send(bytes + after), bytes.size() + after.size());
    QVERIFY(!shut || ::shutdown(client.fd, SHUT_WR) == 0);
    const QByteArrayList got = client.readAll();
    QVERIFY(client.closed && client.rest.isEmpty());
    QByteArray seen = shut ? "shut" : "";
    for (qsizetype i = 0; i < got.size(); ++i) {
        const bool closes = i == got.size() - 1 && !shut;
        seen += ' ' + got[i].mid(9, 3);
        const QByteArray connection = closes ? "close" : "keep-alive";
        QVERIFY2(got[i].contains("\r\nConnection: " + connection + "\r\n"), got[i]);
    }
    QCOMPARE(seen.trimmed(), statuses);
    for (const QByteArray &field : fields)
        QVERIFY2(got.value(0).contains("\r\n" + field + "\r\n"), field);
    QVERIFY(body.isEmpty() || got.value(0).endsWith("\r\n\r\n" + body));
}

QTEST_GUILESS_MAIN(TestStandin)
#include "tst_standin.moc"
