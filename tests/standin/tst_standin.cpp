#include "standin_process.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <csignal>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray catalogFile(const char *name)
{
    QFile file(QStringLiteral(CORVANE_STANDIN_CATALOG) + u'/' + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Reply {
    int status = 0;
    QHash<QByteArray, QByteArray> headers;
    QByteArray body;
};

// Takes one whole response off the front of the bytes read so far; false
// while it is not all there. The stand-in always sends a Content-Length.
bool takeResponse(QByteArray &bytes, Reply &reply, bool headOnly = false)
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    const QList<QByteArray> lines = bytes.left(end).split('\n');
    reply = Reply();
    reply.status = lines[0].mid(9, 3).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        reply.headers.insert(lines[i].left(colon).toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype length = headOnly ? 0 : reply.headers.value("content-length").toLongLong();
    if (bytes.size() < end + 4 + length)
        return false;
    reply.body = bytes.mid(end + 4, length);
    bytes.remove(0, end + 4 + length);
    return true;
}

// A client on a plain blocking socket, for bytes that no HTTP client sends
// and for clients that stop reading, half-close or dawdle. Every wait is
// bounded.
class RawClient {
public:
    explicit RawClient(quint16 port, int receiveBuffer = 0)
    {
        descriptor_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0)
            ::setsockopt(descriptor_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_
            = ::connect(descriptor_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(descriptor_); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool connected() const { return connected_; }

    // Sends as much as the peer takes within the time; the count sent.
    qsizetype send(QByteArrayView data, int timeoutMs = 3000)
    {
        qsizetype sent = 0;
        while (sent < data.size() && wait(POLLOUT, timeoutMs)) {
            const ssize_t n = ::send(descriptor_, data.data() + sent, size_t(data.size() - sent),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n <= 0)
                break;
            sent += n;
        }
        return sent;
    }

    void shutdownWrite() { ::shutdown(descriptor_, SHUT_WR); }

    // Reads until count responses are in, the peer closes or the time is up.
    QList<Reply> read(int count, int timeoutMs = 3000, bool headOnly = false)
    {
        QList<Reply> replies;
        Reply reply;
        while (replies.size() < count) {
            if (takeResponse(buffer_, reply, headOnly)) {
                replies << reply;
                continue;
            }
            if (!readSome(timeoutMs))
                break;
        }
        return replies;
    }

    // Reads until the peer closes; false when it does not within the time.
    bool waitForClose(int timeoutMs = 3000)
    {
        while (!closed_) {
            if (!readSome(timeoutMs))
                return closed_;
        }
        return true;
    }

    // Bytes read and not taken as a response.
    QByteArray &rest() { return buffer_; }

private:
    bool wait(short events, int timeoutMs)
    {
        pollfd entry{descriptor_, events, 0};
        return ::poll(&entry, 1, timeoutMs) > 0;
    }

    bool readSome(int timeoutMs)
    {
        if (closed_ || !wait(POLLIN, timeoutMs))
            return false;
        char block[16384];
        const ssize_t n = ::recv(descriptor_, block, sizeof block, MSG_DONTWAIT);
        if (n <= 0) {
            closed_ = true;
            return false;
        }
        buffer_.append(block, n);
        return true;
    }

    int descriptor_ = -1;
    bool connected_ = false;
    bool closed_ = false;
    QByteArray buffer_;
};

// What a process holds: resident memory in KiB and open descriptors.
qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("VmRSS:");
    return text.mid(at + 6, text.indexOf('\n', at) - at - 6)
        .trimmed()
        .split(' ')
        .first()
        .toLongLong();
}

qsizetype openDescriptors(qint64 pid)
{
    return QDir(QStringLiteral("/proc/%1/fd").arg(pid))
        .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
        .size();
}

double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
    return double(fields[11].toLongLong() + fields[12].toLongLong())
           / double(::sysconf(_SC_CLK_TCK));
}

} // namespace

// The stand-in alone, over real HTTP on loopback.
class TestStandin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void printsLinksToPaste_data();
    void printsLinksToPaste();
    void videoInfo_data();
    void videoInfo();
    void tokensAreNewEveryRun();
    void download_data();
    void download();
    void rangesOfTheFile_data();
    void rangesOfTheFile();
    void rawRequests_data();
    void rawRequests();
    void staysFlatUnderAbuse_data();
    void staysFlatUnderAbuse();
    void fileNamesAreMadeSafe_data();
    void fileNamesAreMadeSafe();
    void stopsCleanlyOnSignals_data();
    void stopsCleanlyOnSignals();
    void unusableAddressesAreSkipped();

private:
    Reply get(const QByteArray &pathAndQuery, quint16 port = 0);
    QByteArray token(const QByteArray &id, quint16 port = 0);

    StandinProcess *standin_ = nullptr;
    QNetworkAccessManager network_;
};

void TestStandin::initTestCase()
{
    // 500 connections at once need more descriptors than a shell's default.
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    QVERIFY(limit.rlim_cur >= 1024);
}

void TestStandin::init()
{
    standin_ = new StandinProcess({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    QVERIFY2(standin_->waitUntilListening(), standin_->process.readAllStandardError().constData());
}

void TestStandin::cleanup()
{
    delete standin_;
}

Reply TestStandin::get(const QByteArray &pathAndQuery, quint16 port)
{
    QNetworkRequest request(QUrl::fromEncoded(
        "http://127.0.0.1:" + QByteArray::number(port ? port : standin_->port()) + pathAndQuery));
    request.setRawHeader("Accept-Encoding", "gzip, deflate, br");
    QNetworkReply *reply = network_.get(request);
    Reply result;
    if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 5000))
        return result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    for (const auto &[name, value] : reply->rawHeaderPairs())
        result.headers.insert(name.toLower(), value);
    result.body = reply->readAll();
    reply->deleteLater();
    return result;
}

QByteArray TestStandin::token(const QByteArray &id, quint16 port)
{
    const QByteArray body = get("/get_video_info?video_id=" + id, port).body;
    const QRegularExpressionMatch match
        = QRegularExpression(QStringLiteral("&token=([^&]*)")).match(QString::fromLatin1(body));
    return match.captured(1).toLatin1();
}

void TestStandin::printsLinksToPaste_data()
{
    QTest::addColumn<QString>("listen");
    QTest::addColumn<QByteArray>("host");

    QTest::newRow("port 80") << QStringLiteral("127.0.0.1:80") << QByteArray("localhost");
    QTest::newRow("another port") << QStringLiteral("127.0.0.1:0") << QByteArray("localhost:PORT");
}

void TestStandin::printsLinksToPaste()
{
    QFETCH(QString, listen);
    QFETCH(QByteArray, host);

    StandinProcess standin({QStringLiteral("--listen"), listen});
    QVERIFY2(standin.waitUntilListening(), standin.process.readAllStandardError().constData());
    host.replace("PORT", QByteArray::number(standin.port()));
    QCOMPARE(standin.output, "http://" + host
                                 + "/watch?v=Demo1Clip01\tCorvane demo clip\n"
                                   "http://"
                                 + host
                                 + "/watch?v=CafeParis42\tCaf\xc3\xa9 de Paris\n"
                                   "listening on 127.0.0.1:"
                                 + QByteArray::number(standin.port()) + "\n");
}

void TestStandin::videoInfo_data()
{
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<QString>("pattern");

    QTest::newRow("ASCII title, '+' for spaces")
        << QByteArray("Demo1Clip01")
        << "^status=ok&length_seconds=3&token=[A-Za-z0-9%]*%3D%3D&[^&]*&title=Corvane\\+demo\\+"
           "clip&video_id=Demo1Clip01$";
    QTest::newRow("non-ASCII title as UTF-8 escapes")
        << QByteArray("CafeParis42") << "^status=ok&.*&title=Caf%C3%A9\\+de\\+Paris&";
    QTest::newRow("unknown id") << QByteArray("nothing") << "^status=fail&errorcode=150&reason=.+$";
}

void TestStandin::videoInfo()
{
    QFETCH(QByteArray, id);
    QFETCH(QString, pattern);
    const Reply reply = get("/get_video_info?video_id=" + id);
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.headers.value("content-type"), "application/x-www-form-urlencoded");
    QVERIFY(!reply.headers.contains("content-encoding"));
    QVERIFY2(QRegularExpression(pattern).match(QString::fromLatin1(reply.body)).hasMatch(),
             reply.body.constData());
}

void TestStandin::tokensAreNewEveryRun()
{
    const QByteArray first = token("Demo1Clip01");
    QCOMPARE(token("Demo1Clip01"), first); // the same within a run
    QCOMPARE(QByteArray::fromBase64(QByteArray::fromPercentEncoding(first)).size(), 16);
    QVERIFY(first != token("CafeParis42"));
    delete standin_;
    standin_ = nullptr;
    init();
    QVERIFY(token("Demo1Clip01") != first);
}

void TestStandin::download_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("disposition");

    QTest::newRow("right token") << QByteArray("video_id=Demo1Clip01&id=TOKEN&n=Corvane+demo+clip")
                                 << 200 << catalogFile("corvane-demo.webm")
                                 << QByteArray("attachment; filename=\"Corvane demo clip.webm\"; "
                                               "filename*=UTF-8''Corvane%20demo%20clip.webm");
    QTest::newRow("right token, non-ASCII title")
        << QByteArray("video_id=CafeParis42&id=TOKEN&n=Caf%C3%A9+de+Paris") << 200
        << catalogFile("cafe-de-paris.webm")
        << QByteArray("attachment; filename=\"Caf_ de Paris.webm\"; "
                      "filename*=UTF-8''Caf%C3%A9%20de%20Paris.webm");
    QTest::newRow("wrong token") << QByteArray("video_id=Demo1Clip01&id=AAAA&n=x") << 403
                                 << QByteArray() << QByteArray();
    QTest::newRow("another video's token")
        << QByteArray("video_id=CafeParis42&id=TOKEN&n=x") << 403 << QByteArray() << QByteArray();
    QTest::newRow("unknown video")
        << QByteArray("video_id=nothing&id=TOKEN") << 404 << QByteArray() << QByteArray();
}

void TestStandin::download()
{
    QFETCH(QByteArray, query);
    QFETCH(int, status);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, disposition);

    query.replace("TOKEN",
                  token(query.startsWith("video_id=CafeParis42&id=TOKEN&n=Caf") ? "CafeParis42"
                                                                                : "Demo1Clip01"));
    const Reply reply = get("/download/index.php?" + query);
    QCOMPARE(reply.status, status);
    QVERIFY(!reply.headers.contains("content-encoding"));
    if (status == 200) {
        QVERIFY(!file.isEmpty());
        QCOMPARE(reply.body, file);
        QCOMPARE(reply.headers.value("content-type"), "video/webm");
        QCOMPARE(reply.headers.value("content-disposition"), disposition);
    } else {
        QCOMPARE(reply.headers.value("content-type"), "text/html; charset=utf-8");
        if (status == 403)
            QVERIFY(reply.body.contains("not valid"));
    }
}

void TestStandin::rangesOfTheFile_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("range");
    QTest::addColumn<QByteArray>("ifRange");
    QTest::addColumn<int>("status");
    // The part sent for 206; negative counts from the end (-1: the last byte).
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("last");

    const auto row = [](const char *name, const char *method, const char *range,
                        const char *ifRange, int status, qint64 first, qint64 last) {
        QTest::newRow(name) << QByteArray(method) << QByteArray(range) << QByteArray(ifRange)
                            << status << first << last;
    };
    row("one range", "GET", "bytes=10-19", "", 206, 10, 19);
    row("to the end", "GET", "bytes=52830-", "", 206, 52830, -1);
    row("last bytes", "GET", "bytes=-4", "", 206, -4, -1);
    row("last position past the end is cut", "GET", "bytes=52800-99999", "", 206, 52800, -1);
    row("unit in capitals", "GET", "BYTES=0-0", "", 206, 0, 0);
    row("unknown unit: ignored", "GET", "items=0-1", "", 200, 0, -1);
    row("several ranges: ignored", "GET", "bytes=0-1,3-4", "", 200, 0, -1);
    row("signed numbers", "GET", "bytes=+1-+3", "", 416, 0, 0);
    row("last before first", "GET", "bytes=5-2", "", 416, 0, 0);
    row("no numbers", "GET", "bytes=-", "", 416, 0, 0);
    row("empty suffix", "GET", "bytes=-0", "", 416, 0, 0);
    row("words", "GET", "bytes=abc", "", 416, 0, 0);
    row("starts at the end", "GET", "bytes=52840-", "", 416, 0, 0);
    row("If-Range: the ETag", "GET", "bytes=1-2", "ETAG", 206, 1, 2);
    row("If-Range: the date", "GET", "bytes=1-2", "DATE", 206, 1, 2);
    row("If-Range: another tag", "GET", "bytes=1-2", "\"other\"", 200, 0, -1);
    row("If-Range: the weak tag", "GET", "bytes=1-2", "W/ETAG", 200, 0, -1);
    row("If-Range: another date", "GET", "bytes=1-2", "Thu, 01 Jan 1970 00:00:00 GMT", 200, 0, -1);
    row("HEAD has no ranges", "HEAD", "bytes=1-2", "", 200, 0, -1);
}

void TestStandin::rangesOfTheFile()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, range);
    QFETCH(QByteArray, ifRange);
    QFETCH(int, status);
    QFETCH(qint64, first);
    QFETCH(qint64, last);

    const QByteArray file = catalogFile("corvane-demo.webm");
    const QByteArray size = QByteArray::number(file.size());
    const QByteArray link = "/download/index.php?video_id=Demo1Clip01&id=" + token("Demo1Clip01");
    RawClient client(standin_->port());
    QVERIFY(client.connected());

    // The validators: a strong tag, and the file's time.
    client.send("HEAD " + link + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
    const QList<Reply> plain = client.read(1, 3000, true);
    QCOMPARE(plain.size(), 1);
    const QByteArray etag = plain[0].headers.value("etag");
    QVERIFY2(
        QRegularExpression(QStringLiteral("^\"[!#-~]+\"$")).match(QLatin1String(etag)).hasMatch(),
        etag.constData());
    const QByteArray lastModified = plain[0].headers.value("last-modified");
    const QDateTime modified
        = QFileInfo(QStringLiteral(CORVANE_STANDIN_CATALOG "/corvane-demo.webm"))
              .lastModified()
              .toUTC();
    QCOMPARE(lastModified,
             QLocale::c().toString(modified, u"ddd, dd MMM yyyy hh:mm:ss").toLatin1() + " GMT");
    QCOMPARE(plain[0].headers.value("accept-ranges"), "bytes");
    QCOMPARE(plain[0].headers.value("content-length"), size);

    QByteArray request
        = method + ' ' + link + " HTTP/1.1\r\nHost: localhost\r\nRange: " + range + "\r\n";
    if (!ifRange.isEmpty())
        request
            += "If-Range: " + ifRange.replace("ETAG", etag).replace("DATE", lastModified) + "\r\n";
    client.send(request + "\r\n");
    const QList<Reply> replies = client.read(1, 3000, method == "HEAD");
    QCOMPARE(replies.size(), 1);
    const Reply &reply = replies[0];
    QCOMPARE(reply.status, status);
    if (first < 0)
        first += file.size();
    if (last < 0)
        last += file.size();
    if (status == 206) {
        QCOMPARE(reply.body, file.mid(first, last - first + 1));
        QCOMPARE(reply.headers.value("content-range"), "bytes " + QByteArray::number(first) + '-'
                                                           + QByteArray::number(last) + '/' + size);
        QCOMPARE(reply.headers.value("etag"), etag);
    } else if (status == 416) {
        QCOMPARE(reply.headers.value("content-range"), "bytes */" + size);
    } else {
        QCOMPARE(reply.body, method == "HEAD" ? QByteArray() : file);
        QCOMPARE(reply.headers.value("content-length"), size);
        QVERIFY(!reply.headers.contains("content-range"));
    }
    QCOMPARE(reply.headers.value("connection"), "keep-alive");
}

void TestStandin::rawRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("halfClose");
    QTest::addColumn<int>("responses");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QByteArray>("header"); // "name: value" the last answer holds

    const QByteArray info = "GET /get_video_info?video_id=Demo1Clip01 HTTP/1.1\r\n";
    const QByteArray host = "Host: localhost\r\n";
    const QByteArray none;
    const auto row = [&](const char *name, const QByteArray &request, int status, bool closes,
                         const QByteArray &header = QByteArray()) {
        QTest::newRow(name) << request << false << (status ? 1 : 0) << status << closes << header;
    };

    // Shapes that smuggle a request past a front end.
    row("duplicate Content-Length",
        info + host + "Content-Length: 0\r\nContent-Length: 56\r\n\r\n"
            + "GET /get_video_info?video_id=CafeParis42 HTTP/1.1\r\n" + host + "\r\n",
        400, true);
    row("Content-Length and chunked",
        info + host + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400,
        true);
    row("fold line with a colon: not a second Host", info + host + "X-Note: a\r\n Host: b\r\n\r\n",
        200, false);
    row("fold line with a colon: not the Host", info + "X-Note: a\r\n Host: b\r\n\r\n", 400, true);
    row("space before the colon", info + "Host : localhost\r\n\r\n", 400, true);
    row("space inside a name", info + host + "X Note: a\r\n\r\n", 400, true);
    row("tab inside a name", info + host + "X\tNote: a\r\n\r\n", 400, true);
    row("NUL in a value", info + host + QByteArray("X-Note: a\0b\r\n\r\n", 15), 400, true);
    row("control byte in a value",
        info + host
            + "X-Note: a\x01"
              "b\r\n\r\n",
        400, true);
    row("DEL in a value", info + host + "X-Note: a\x7f\r\n\r\n", 400, true);
    row("bare LF line ends", "GET /get_video_info?video_id=Demo1Clip01 HTTP/1.1\nHost: a\n\n", 400,
        true);
    row("bare CR line ends", "GET /get_video_info?video_id=Demo1Clip01 HTTP/1.1\rHost: a\r\r", 400,
        true);
    row("no Host on HTTP/1.1", info + "\r\n", 400, true);
    row("two Hosts", info + host + host + "\r\n", 400, true);
    row("Host that is no host", info + "Host: a b\r\n\r\n", 400, true);
    row("HTTP/1.0 without Host", "GET /get_video_info?video_id=Demo1Clip01 HTTP/1.0\r\n\r\n", 200,
        true, "connection: close");
    row("HTTP/1.0 keep-alive",
        "GET /get_video_info?video_id=Demo1Clip01 HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", 200,
        false);

    // Requests the stand-in does not take.
    row("malformed request line", "GARBAGE\r\n\r\n", 400, true);
    row("unknown HTTP version", "GET / HTTP/9\r\n\r\n", 400, true);
    row("HTTP/2.0", "GET / HTTP/2.0\r\n" + host + "\r\n", 505, true);
    row("HTTP/0.9", "GET /\r\n\r\n", 400, true);
    row("malformed header", "GET / HTTP/1.1\r\nno colon\r\n\r\n", 400, true);
    row("head over 8 KiB", "GET / HTTP/1.1\r\nX-Long: " + QByteArray(9000, 'a') + "\r\n\r\n", 431,
        true);
    row("endless request line", "GET /" + QByteArray(20000, 'a'), 431, true);
    row("endless garbage", QByteArray(20000, 'b'), 400, true);
    row("climbing path", "GET /../catalog/catalog.tsv HTTP/1.1\r\n" + host + "\r\n", 400, true);
    row("escaped climbing path",
        "GET /download/%2e%2e/%2e%2e/catalog.tsv HTTP/1.1\r\n" + host + "\r\n", 400, true);
    row("a body", "POST / HTTP/1.1\r\n" + host + "Content-Length: 3\r\n\r\nabc", 400, true);
    row("other method", "DELETE / HTTP/1.1\r\n" + host + "\r\n", 405, true, "allow: GET, HEAD");
    row("Upgrade", info + host + "Upgrade: h2c\r\nConnection: Upgrade\r\n\r\n", 200, true,
        "connection: close");
    row("client stops mid-request", info + "Host: x\r\n", 408, true);

    // Standard HTTP/1.1.
    row("close among other options", info + host + "Connection: keep-alive, close\r\n\r\n", 200,
        true, "connection: close");
    row("leading empty line", "\r\n" + info + host + "\r\n", 200, false);
    row("absolute form, own address",
        "GET http://127.0.0.1:PORT/get_video_info?video_id=Demo1Clip01 HTTP/1.1\r\nHost: x\r\n\r\n",
        200, false);
    row("absolute form, localhost",
        "GET HTTP://LOCALHOST:PORT/get_video_info?video_id=Demo1Clip01 HTTP/1.1\r\n" + host
            + "\r\n",
        200, false);
    row("absolute form, another host",
        "GET http://example.com/get_video_info?video_id=Demo1Clip01 HTTP/1.1\r\n" + host + "\r\n",
        421, false);
    row("absolute form, another scheme",
        "GET ftp://127.0.0.1:PORT/get_video_info HTTP/1.1\r\n" + host + "\r\n", 400, true);
    row("encoded slash is no slash",
        "GET /download%2Findex.php?video_id=Demo1Clip01&id=TOKEN HTTP/1.1\r\n" + host + "\r\n", 404,
        false);
    row("nothing after the answer that says close",
        info + host + "Connection: close\r\n\r\n" + info + host + "\r\n", 200, true,
        "connection: close");
    row("no 408 after the answer that says close",
        "GET /download/index.php?video_id=Demo1Clip01&id=TOKEN HTTP/1.1\r\n" + host
            + "Connection: close\r\n\r\nGET / HTTP/1.1\r\n",
        200, true);
    QTest::newRow("three pipelined requests")
        << info + host + "\r\n" + info + host + "\r\n" + info + host + "Connection: close\r\n\r\n"
        << false << 3 << 200 << true << QByteArray("connection: close");

    // A client that shuts its sending side down after the request.
    QTest::newRow("half-closed after a request") << info + host + "\r\n"
                                                 << true << 1 << 200 << true << none;
    QTest::newRow("half-closed after a download")
        << "GET /download/index.php?video_id=Demo1Clip01&id=TOKEN HTTP/1.1\r\n" + host + "\r\n"
        << true << 1 << 200 << true << QByteArray("content-length: 52840");
    QTest::newRow("half-closed after two requests") << info + host + "\r\n" + info + host + "\r\n"
                                                    << true << 2 << 200 << true << none;
    QTest::newRow("half-closed mid-request") << info + host << true << 0 << 0 << true << none;
}

void TestStandin::rawRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, halfClose);
    QFETCH(int, responses);
    QFETCH(int, status);
    QFETCH(bool, closes);
    QFETCH(QByteArray, header);

    const QByteArray normal
        = "GET /get_video_info?video_id=Demo1Clip01 HTTP/1.1\r\nHost: a\r\n\r\n";
    request.replace("TOKEN", token("Demo1Clip01"));
    request.replace("PORT", QByteArray::number(standin_->port()));
    {
        RawClient client(standin_->port());
        QVERIFY(client.connected());
        QCOMPARE(client.send(request), request.size());
        if (halfClose)
            client.shutdownWrite();
        const QList<Reply> replies = client.read(responses, 8000);
        QCOMPARE(replies.size(), responses);
        for (const Reply &reply : replies) {
            QCOMPARE(reply.status, status);
            QVERIFY(!reply.body.contains("Demo1Clip01\t")); // the catalog is never served
        }
        if (!header.isEmpty()) {
            const qsizetype colon = header.indexOf(": ");
            QCOMPARE(replies.last().headers.value(header.left(colon)), header.mid(colon + 2));
        }
        if (closes) {
            QVERIFY2(client.waitForClose(), "the connection stayed open");
            QCOMPARE(client.rest(), QByteArray()); // nothing follows the answer
            if (responses > 0 && !halfClose)
                QCOMPARE(replies.last().headers.value("connection"), "close");
        } else {
            QCOMPARE(replies.last().headers.value("connection"), "keep-alive");
            client.send(normal);
            const QList<Reply> next = client.read(1);
            QCOMPARE(next.size(), 1);
            QCOMPARE(next[0].status, 200);
        }
    }
    RawClient after(standin_->port());
    after.send(normal);
    const QList<Reply> next = after.read(1);
    QCOMPARE(next.size(), 1);
    QCOMPARE(next[0].status, 200);
}

void TestStandin::staysFlatUnderAbuse_data()
{
    QTest::addColumn<QString>("abuse");
    // How long the stand-in may take to let go of the abusers on its own.
    QTest::addColumn<int>("dropWithinMs");

    QTest::newRow("five pipelining clients that never read") << QStringLiteral("pipeline") << 40000;
    QTest::newRow("500 idle connections") << QStringLiteral("idle") << 10000;
    QTest::newRow("50 clients sending a byte at a time") << QStringLiteral("slow") << 10000;
    QTest::newRow("100 connections at 64 descriptors") << QStringLiteral("limit") << 20000;
}

// The abusers hold their connections open until the end: the stand-in drops
// them itself (idle, stalled, too slow) and answers others all the while.
void TestStandin::staysFlatUnderAbuse()
{
    QFETCH(QString, abuse);
    QFETCH(int, dropWithinMs);

    std::unique_ptr<StandinProcess> limited;
    StandinProcess *standin = standin_;
    if (abuse == u"limit") {
#ifdef CORVANE_SANITIZED_STANDIN
        // UndefinedBehaviorSanitizer opens a pipe to check an object's type:
        // at the descriptor limit it fails and reports a wrong type.
        QSKIP("the sanitizers need descriptors of their own");
#endif
        limited = std::make_unique<StandinProcess>(
            QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")},
            QStringList{QStringLiteral("prlimit"), QStringLiteral("--nofile=64:64")});
        QVERIFY(limited->waitUntilListening());
        standin = limited.get();
    }
    const quint16 port = standin->port();
    const qint64 pid = standin->process.processId();
    const QByteArray normal
        = "GET /get_video_info?video_id=Demo1Clip01 HTTP/1.1\r\nHost: a\r\n\r\n";
    const QByteArray download = "GET /download/index.php?video_id=Demo1Clip01&id="
                                + token("Demo1Clip01", port) + " HTTP/1.1\r\nHost: a\r\n\r\n";
    {
        RawClient warm(port); // the file and the pages once, before measuring
        warm.send(download + normal);
        QCOMPARE(warm.read(2).size(), 2);
    }
    QTest::qWait(200); // for the stand-in to close its end
    const qsizetype descriptors = openDescriptors(pid);
    const qint64 resident = residentKiB(pid);

    std::vector<std::unique_ptr<RawClient>> abusers;
    if (abuse == u"pipeline") {
        for (int i = 0; i < 5; ++i) {
            abusers.push_back(std::make_unique<RawClient>(port, 4096));
            QVERIFY(abusers.back()->send(download.repeated(2000), 500) > 0);
        }
    } else if (abuse == u"idle") {
        for (int i = 0; i < 500; ++i) {
            abusers.push_back(std::make_unique<RawClient>(port));
            QVERIFY(abusers.back()->connected());
        }
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(pid), descriptors + 500, 5000);
    } else if (abuse == u"slow") {
        for (int i = 0; i < 50; ++i)
            abusers.push_back(std::make_unique<RawClient>(port));
        const QByteArray slow = normal.left(normal.size() - 2) + "X-Slow: " + QByteArray(200, 'a');
        for (qsizetype at = 0; at < 60; ++at) { // a byte each 100 ms: 6 s
            for (const auto &client : abusers)
                client->send(slow.mid(at, 1), 100);
            QTest::qWait(100);
        }
    } else {
        for (int i = 0; i < 100; ++i)
            abusers.push_back(std::make_unique<RawClient>(port));
        // No busy accepting at the limit: it waits for a close or a while.
        const double before = cpuSeconds(pid);
        QTest::qWait(2000);
        QVERIFY2(cpuSeconds(pid) - before < 0.2,
                 qPrintable(QStringLiteral("%1 s of CPU in 2 s").arg(cpuSeconds(pid) - before)));
    }

    // Others are still served; memory stays where it was.
    RawClient other(port);
    other.send(normal);
    const QList<Reply> answered = other.read(1, abuse == u"limit" ? dropWithinMs : 3000);
    QCOMPARE(answered.size(), 1);
    QCOMPARE(answered[0].status, 200);
    const qint64 grown = residentKiB(pid) - resident;
    QVERIFY2(grown < 8 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(grown)));

    if (abuse == u"slow") {
        for (const auto &client : abusers) {
            const QList<Reply> late = client->read(1, 3000);
            QCOMPARE(late.size(), 1);
            QCOMPARE(late[0].status, 408);
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(openDescriptors(pid) <= descriptors, dropWithinMs);
    for (const auto &client : abusers)
        QVERIFY(client->waitForClose());
    QVERIFY(residentKiB(pid) - resident < 8 * 1024);
    QCOMPARE(standin->process.state(), QProcess::Running);
}

void TestStandin::fileNamesAreMadeSafe_data()
{
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QByteArray>("ascii");
    QTest::addColumn<QByteArray>("utf8");

    QTest::newRow("separators, control bytes, quotes")
        << QByteArray("../..\\etc/pass\x01wd: \"x\"") << QByteArray("_.._etc_pass_wd_ _x_.webm")
        << QByteArray("_.._etc_pass_wd_%20_x_.webm");
    QTest::newRow("characters Windows refuses")
        << QByteArray("a<b>c|d?e*f") << QByteArray("a_b_c_d_e_f.webm")
        << QByteArray("a_b_c_d_e_f.webm");
    QTest::newRow("device name") << QByteArray("CON") << QByteArray("_CON.webm")
                                 << QByteArray("_CON.webm");
    QTest::newRow("device name with an extension")
        << QByteArray("lpt1.txt") << QByteArray("_lpt1.txt.webm") << QByteArray("_lpt1.txt.webm");
    QTest::newRow("device name, other case, space")
        << QByteArray("Com9 .x") << QByteArray("_Com9 .x.webm") << QByteArray("_Com9%20.x.webm");
    QTest::newRow("longer than a device name")
        << QByteArray("CONSOLE") << QByteArray("CONSOLE.webm") << QByteArray("CONSOLE.webm");
    QTest::newRow("trailing dots and spaces")
        << QByteArray("name. . .") << QByteArray("name.webm") << QByteArray("name.webm");
    QTest::newRow("nothing left") << QByteArray(" ... ") << QByteArray("video.webm")
                                  << QByteArray("video.webm");
}

void TestStandin::fileNamesAreMadeSafe()
{
    QFETCH(QByteArray, title);
    QFETCH(QByteArray, ascii);
    QFETCH(QByteArray, utf8);

    QTemporaryDir media;
    QVERIFY(media.isValid());
    QFile list(media.filePath(QStringLiteral("catalog.tsv")));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("Nasty000001\t1\tclip.webm\t" + title + '\n');
    list.close();
    QVERIFY(QFile::copy(QStringLiteral(CORVANE_STANDIN_CATALOG "/corvane-demo.webm"),
                        media.filePath(QStringLiteral("clip.webm"))));

    delete standin_;
    standin_ = new StandinProcess({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                   QStringLiteral("--media"), media.path()});
    QVERIFY(standin_->waitUntilListening());
    const Reply reply
        = get("/download/index.php?video_id=Nasty000001&id=" + token("Nasty000001") + "&n=x");
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.headers.value("content-disposition"),
             "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + utf8);
}

void TestStandin::stopsCleanlyOnSignals_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void TestStandin::stopsCleanlyOnSignals()
{
    QFETCH(int, signal);
    ::kill(pid_t(standin_->process.processId()), signal);
    QVERIFY(standin_->process.waitForFinished(3000));
    QCOMPARE(standin_->process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(standin_->process.exitCode(), 0);
}

void TestStandin::unusableAddressesAreSkipped()
{
    // 192.0.2.1 is no address of this machine: binding fails, nothing is sent.
    StandinProcess partly({QStringLiteral("--listen"), QStringLiteral("192.0.2.1:0"),
                           QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    QVERIFY(partly.waitUntilListening());
    QVERIFY(partly.process.readAllStandardError().contains("cannot listen on 192.0.2.1:0"));

    StandinProcess nowhere({QStringLiteral("--listen"), QStringLiteral("192.0.2.1:0")});
    QVERIFY(nowhere.process.waitForFinished(5000));
    QCOMPARE(nowhere.process.exitCode(), 1);
}

QTEST_GUILESS_MAIN(TestStandin)
#include "tst_standin.moc"
