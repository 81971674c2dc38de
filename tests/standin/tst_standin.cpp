#include "standin_process.h"

#include <QDir>
#include <QLocale>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <unistd.h>

namespace {

constexpr qint64 kMaxGrowthKiB = (CORVANE_SANITIZED_STANDIN ? 64 : 8) * 1024; // ASan keeps more

constexpr const char *kTitles[][3] = {
    {"Caf\xc3\xa9 de Paris", "Caf_ de Paris.webm", "Caf%C3%A9%20de%20Paris.webm"},
    {"../..\\a/\x01: \"b\"<>|?* . .", "_.._a___ _b______.webm", "_.._a___%20_b______.webm"},
    {"Lpt1 .txt", "_Lpt1 .txt.webm", "_Lpt1%20.txt.webm"},
    {"CONSOLE", "CONSOLE.webm", "CONSOLE.webm"},
    {" ... ", "video.webm", "video.webm"},
};

const QByteArray kDownload = "/download/index.php?video_id=";

struct Reply {
    int status = -1; // also for a head that is not well formed, such as one with a field twice
    QHash<QByteArray, QByteArray> fields; // names in lower case
    QByteArray body;
};

// A client on a plain socket, for bytes no HTTP client sends; each wait ends after timeoutMs.
struct RawClient {
    explicit RawClient(quint16 port, int timeoutMs = 5000)
    {
        const timeval timeout{timeoutMs / 1000, timeoutMs % 1000 * 1000};
        for (const int option : {SO_RCVTIMEO, SO_SNDTIMEO})
            ::setsockopt(fd, SOL_SOCKET, option, &timeout, sizeof timeout);
        const sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    }
    ~RawClient() { ::close(fd); }
    auto send(const QByteArray &b) { return ::send(fd, b.data(), size_t(b.size()), MSG_NOSIGNAL); }
    Reply exchange(const QByteArray &request)
    {
        send(request);
        return read(1).value(0);
    }
    // Reads until count replies are in, the peer closes or the time is up.
    QList<Reply> read(int count)
    {
        QList<Reply> replies;
        while (replies.size() < count) {
            const qsizetype end = rest.indexOf("\r\n\r\n");
            const QByteArray head = rest.left(end);
            Reply reply;
            if (head.startsWith("HTTP/1.1 ") && head.count('\n') == head.count("\r\n"))
                reply.status = head.mid(9, 3).toInt();
            for (const QByteArray &line : head.split('\n').mid(1)) {
                const QByteArray name = line.left(line.indexOf(": ")).toLower();
                if (!line.contains(": ") || reply.fields.contains(name))
                    reply.status = -1;
                reply.fields.insert(name, line.mid(line.indexOf(": ") + 2).trimmed());
            }
            const qsizetype size = reply.fields.value("content-length").toLongLong();
            if (end >= 0 && rest.size() >= end + 4 + size) {
                reply.body = rest.mid(end + 4, size);
                rest.remove(0, end + 4 + size);
                replies << reply;
                continue;
            }
            char block[16384];
            const ssize_t n = ::recv(fd, block, sizeof block, 0);
            closed = n == 0 || (n < 0 && errno != EAGAIN);
            if (n <= 0)
                break;
            rest.append(block, n);
        }
        return replies;
    }

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool closed = false;
    QByteArray rest; // read and not taken as a reply
};

QByteArray request(const QByteArray &target, const QByteArray &fields = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + fields + "\r\n";
}

// The words of a line of /proc/PID/FILE, from name on.
QList<QByteArray> procLine(qint64 pid, const char *file, const char *name)
{
    QFile proc(QStringLiteral("/proc/%1/").arg(pid) + QLatin1String(file));
    const QByteArray text = proc.open(QIODevice::ReadOnly) ? proc.readAll() : QByteArray();
    return text.mid(text.indexOf(name)).split('\n')[0].simplified().split(' ');
}

} // namespace

class TestStandin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void requests_data();
    void requests();
    void abuse_data();
    void abuse();

private:
    QByteArray token(const QByteArray &id, quint16 port = 80);

    QTemporaryDir media_;
    std::unique_ptr<StandinProcess> standin_;
    QByteArray demo_;       // the served file
    QByteArray modified_;   // and its time
    QStringList arguments_; // with an address it cannot take, which it goes on without
};

void TestStandin::initTestCase()
{
    // The catalog, with videos that have awkward titles and a large sparse one.
    QFile demo(media_.filePath(QStringLiteral("demo.webm")));
    QFile list(media_.filePath(QStringLiteral("catalog.tsv")));
    QFile large(media_.filePath(QStringLiteral("large.webm")));
    QVERIFY(QFile::copy(CORVANE_STANDIN_CATALOG "/corvane-demo.webm", demo.fileName()));
    QVERIFY(demo.open(QIODevice::ReadOnly) && list.open(QIODevice::WriteOnly));
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(512 * 1024 * 1024));
    list.write("Demo1Clip01\t3\tdemo.webm\tCorvane demo clip\nLarge\t1\tlarge.webm\tL\n");
    for (int i = 0; i < int(std::size(kTitles)); ++i)
        list.write("Name" + QByteArray::number(i) + "\t1\tdemo.webm\t" + kTitles[i][0] + '\n');
    list.close();
    demo_ = demo.readAll();
    const QDateTime time = demo.fileTime(QFileDevice::FileModificationTime).toUTC();
    modified_ = QLocale::c().toString(time, u"ddd, dd MMM yyyy hh:mm:ss 'GMT'").toLatin1();

    arguments_ = {"--media", media_.path(), "--listen", "192.0.2.1:0", "--listen"};
    standin_ = std::make_unique<StandinProcess>(arguments_ + QStringList{"127.0.0.1:80"});
    QVERIFY(standin_->waitUntilListening());
}

QByteArray TestStandin::token(const QByteArray &id, quint16 port)
{
    const QByteArray info
        = RawClient(port).exchange(request("/get_video_info?video_id=" + id)).body;
    return info.mid(info.indexOf("&token=") + 7).split('&').first();
}

void TestStandin::requests_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("replies"); // statuses; "shut": we half-close; "close": it closes
    QTest::addColumn<QByteArray>("facts");   // of the last: "name: value", "-name", "@FIRST-LAST"

    const auto row = [](const QByteArray &name, const QByteArray &bytes, const char *replies,
                        const QByteArray &facts = {}) {
        QTest::newRow(QByteArray(name).replace("\r\n", ", ").constData())
            << bytes << QByteArray(replies) << facts;
    };
    const QByteArray info = request("/get_video_info?video_id=Demo1Clip01");
    const QByteArray line = info.first(info.indexOf("Host"));
    const QByteArray host = "Host: localhost\r\n";
    const QByteArray file = kDownload + "Demo1Clip01&id=" + token("Demo1Clip01");

    // The download, a range of it, file names made of titles.
    row("another video's token", request(kDownload + "Large&id=" + token("Demo1Clip01")), "403");
    row("range", request(file, "Range: bytes=10-19\r\n"), "206",
        "last-modified: " + modified_ + "\ncontent-range: bytes 10-19/"
            + QByteArray::number(demo_.size()) + "\n@10-19");
    for (int i = 0; i < int(std::size(kTitles)); ++i) {
        const QByteArray id = "Name" + QByteArray::number(i);
        const QByteArray name = kTitles[i][1];
        row(name, request(kDownload + id + "&id=" + token(id)), "200",
            "content-disposition: attachment; filename=\"" + name + "\"; filename*=UTF-8''"
                + kTitles[i][2]);
    }

    // Shapes that smuggle a request past a front end, and bytes strict parsing refuses.
    const QByteArray chunked = "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n";
    row("duplicate Content-Length",
        line + host + "Content-Length: 0\r\nContent-Length: 56\r\n\r\n" + info, "400 close");
    row("Content-Length and chunked", line + host + chunked, "400 close");
    row("fold line", line + host + "X-A: a\r\n b: c\r\n\r\n", "400 close");
    row("space before the colon", line + "Host : localhost\r\n\r\n", "400 close");
    row("NUL in a value", line + host + QByteArray("X-Note: a\0b\r\n\r\n", 15), "400 close");
    row("DEL in a value", line + host + "X-Note: a\x7f\r\n\r\n", "400 close");
    row("bare LF line ends", "GET / HTTP/1.1\nHost: a\n\n", "400 close");
    row("bare CR line ends", "GET / HTTP/1.1\rHost: a\r\r", "400 close");
    row("head over 8 KiB", request("/", "X-Long: " + QByteArray(9000, 'a') + "\r\n"), "431 close");
    row("endless request line", "GET /" + QByteArray(20000, 'a'), "431 close");
    row("a body", "POST / HTTP/1.1\r\n" + host + "Content-Length: 3\r\n\r\nabc", "400 close");
    row("other method", "DELETE / HTTP/1.1\r\n" + host + "\r\n", "405 close", "allow: GET, HEAD");
    row("another host, absolute", "GET http://other.example/ HTTP/1.1\r\n" + host + "\r\n", "421");
    row("unknown video", request(kDownload + "Nope&id=x"), "404");

    // Keep-alive, pipelining, half-closing.
    row("HTTP/1.0 closes", "GET / HTTP/1.0\r\n\r\n", "404 close");
    row("pipelined, nothing after close", info + request("/", "Connection: close\r\n") + info,
        "200 404 close");
    row("half-closed after a download", request(file, "Accept-Encoding: gzip, br\r\n"),
        "shut 200 close",
        "content-type: video/webm\n-content-encoding\n@0-" + QByteArray::number(demo_.size() - 1));
    row("half-closed mid-request", line + host, "shut close");
}

void TestStandin::requests()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, replies);
    QFETCH(QByteArray, facts);

    RawClient client(80);
    QCOMPARE(client.send(bytes), bytes.size());
    QList<QByteArray> statuses = replies.split(' ');
    const bool closes = statuses.removeAll("close") > 0;
    const bool shut = statuses.removeAll("shut") > 0 && ::shutdown(client.fd, SHUT_WR) == 0;
    const QList<Reply> got = client.read(int(statuses.size()));
    QCOMPARE(got.size(), statuses.size());
    for (qsizetype i = 0; i < got.size(); ++i)
        QCOMPARE(got[i].status, statuses[i].toInt());
    const Reply last = got.value(got.size() - 1);
    for (const QByteArray &fact : facts.split('\n')) {
        const qsizetype colon = fact.indexOf(": ");
        const qsizetype dash = fact.indexOf('-');
        const qsizetype first = fact.mid(1, dash - 1).toInt();
        const qsizetype end = fact.mid(dash + 1).toInt() + 1;
        if (fact.startsWith('@'))
            QCOMPARE(last.body, demo_.mid(first, end - first));
        else if (fact.startsWith('-'))
            QVERIFY2(!last.fields.contains(fact.mid(1)), fact);
        else if (colon > 0)
            QCOMPARE(last.fields.value(fact.left(colon)), fact.mid(colon + 2));
    }
    if (!shut && !got.isEmpty())
        QCOMPARE(last.fields.value("connection"), closes ? "close" : "keep-alive");
    if (!closes) // it answers more on the connection, or closes and sends nothing more
        QCOMPARE(client.exchange(request("/")).status, 404);
    QVERIFY(!closes || (client.read(1).isEmpty() && client.closed && client.rest.isEmpty()));
}

void TestStandin::abuse_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<int>("clients");
    QTest::addColumn<int>("dropWithinMs"); // how long the stand-in may take to let go of them

    QTest::newRow("300 idle connections") << QByteArray("idle") << 300 << 10000;
    QTest::newRow("50 clients sending a byte at a time") << QByteArray("slow") << 50 << 10000;
    QTest::newRow("100 connections at 64 descriptors") << QByteArray("limit") << 100 << 20000;
    QTest::newRow("pipelining a 512 MiB file, never reading") << QByteArray("stall") << 2 << 40000;
}

// The abusers stay: the stand-in drops them (idle, too slow, not reading), serving others.
void TestStandin::abuse()
{
    QFETCH(QByteArray, kind);
    QFETCH(int, clients);
    QFETCH(int, dropWithinMs);
    if (CORVANE_SANITIZED_STANDIN && kind == "limit") // UBSan needs descriptors to check types
        QSKIP("the sanitizers need descriptors of their own");
    StandinProcess standin(arguments_ + QStringList{"127.0.0.1:0"});
    QVERIFY(standin.waitUntilListening());
    const quint16 port = standin.output.split(':').last().trimmed().toUShort();
    const qint64 pid = standin.process.processId();
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    const QStringList limit{"--nofile=64:64", "--pid", QString::number(pid)};
    QVERIFY(kind != "limit" || QProcess::execute(QStringLiteral("prlimit"), limit) == 0);
    const QByteArray info = request("/get_video_info?video_id=Demo1Clip01");
    const QByteArray large = request(kDownload + "Large&id=" + token("Large", port));
    const uint open = QDir(fds).count();
    const qint64 resident = procLine(pid, "status", "VmRSS:")[1].toLongLong();

    std::vector<std::unique_ptr<RawClient>> abusers;
    for (int i = 0; i < clients; ++i) {
        abusers.push_back(std::make_unique<RawClient>(port, 1000));
        if (kind == "stall") // pipelined downloads of the large file
            QVERIFY(abusers.back()->send(large.repeated(300)) > 0);
    }
    for (qsizetype at = 0; kind == "slow" && at < 60; ++at) { // a byte each 100 ms: 6 s
        for (const auto &client : abusers)
            client->send(info.mid(at, 1));
        QTest::qWait(100);
    }
    if (kind == "limit") { // no busy accepting at the limit: it waits for a close or a while
        const QList<QByteArray> before = procLine(pid, "stat", ")");
        QTest::qWait(2000);
        const QList<QByteArray> after = procLine(pid, "stat", ")"); // utime, stime: 12, 13
        const qint64 ticks = after[12].toLongLong() + after[13].toLongLong()
                             - before[12].toLongLong() - before[13].toLongLong();
        QVERIFY2(ticks < ::sysconf(_SC_CLK_TCK) / 2, "it spins when it cannot accept");
    }

    QCOMPARE(RawClient(port, dropWithinMs).exchange(info).status, 200);
    QTRY_VERIFY_WITH_TIMEOUT(QDir(fds).count() <= open, dropWithinMs);
    for (const auto &client : abusers) {
        QCOMPARE(client->read(1000).value(0).status, kind == "slow" ? 408 : -1);
        QVERIFY(client->closed);
    }
    const qint64 grown = procLine(pid, "status", "VmHWM:")[1].toLongLong() - resident;
    QVERIFY2(grown < kMaxGrowthKiB, qPrintable(QStringLiteral("grew by %1 KiB").arg(grown)));
}

QTEST_GUILESS_MAIN(TestStandin)
#include "tst_standin.moc"
