#include "standin_process.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

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

} // namespace

// The stand-in alone, over real HTTP on loopback.
class TestStandin : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void printsLinksToPaste();
    void videoInfo_data();
    void videoInfo();
    void tokensAreNewEveryRun();
    void download_data();
    void download();
    void rangesOfTheFile();
    void badRequestsAreRefusedAndClosed_data();
    void badRequestsAreRefusedAndClosed();
    void fileNamesAreMadeSafe();
    void stopsCleanlyOnSignals_data();
    void stopsCleanlyOnSignals();
    void unusableAddressesAreSkipped();

private:
    Reply get(const QByteArray &pathAndQuery, const QByteArray &range = QByteArray());
    QByteArray token(const QByteArray &id);

    StandinProcess *standin_ = nullptr;
    QNetworkAccessManager network_;
};

void TestStandin::init()
{
    standin_ = new StandinProcess({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    QVERIFY2(standin_->waitUntilListening(), standin_->process.readAllStandardError().constData());
}

void TestStandin::cleanup()
{
    delete standin_;
}

Reply TestStandin::get(const QByteArray &pathAndQuery, const QByteArray &range)
{
    QNetworkRequest request(QUrl::fromEncoded(
        "http://127.0.0.1:" + QByteArray::number(standin_->port()) + pathAndQuery));
    request.setRawHeader("Accept-Encoding", "gzip, deflate, br");
    if (!range.isEmpty())
        request.setRawHeader("Range", range);
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

QByteArray TestStandin::token(const QByteArray &id)
{
    const QByteArray body = get("/get_video_info?video_id=" + id).body;
    const QRegularExpressionMatch match
        = QRegularExpression(QStringLiteral("&token=([^&]*)")).match(QString::fromLatin1(body));
    return match.captured(1).toLatin1();
}

void TestStandin::printsLinksToPaste()
{
    QCOMPARE(standin_->output, "http://localhost/watch?v=Demo1Clip01\tCorvane demo clip\n"
                               "http://localhost/watch?v=CafeParis42\tCaf\xc3\xa9 de Paris\n"
                               "listening on 127.0.0.1:"
                                   + QByteArray::number(standin_->port()) + "\n");
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

void TestStandin::rangesOfTheFile()
{
    const QByteArray file = catalogFile("corvane-demo.webm");
    const QByteArray link = "/download/index.php?video_id=Demo1Clip01&id=" + token("Demo1Clip01");

    Reply reply = get(link, "bytes=10-19");
    QCOMPARE(reply.status, 206);
    QCOMPARE(reply.body, file.mid(10, 10));
    QCOMPARE(reply.headers.value("content-range"),
             "bytes 10-19/" + QByteArray::number(file.size()));
    reply = get(link, "bytes=-4");
    QCOMPARE(reply.body, file.right(4));
    reply = get(link, "bytes=" + QByteArray::number(file.size()) + "-");
    QCOMPARE(reply.status, 416);
}

void TestStandin::badRequestsAreRefusedAndClosed_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("statusLine");

    QTest::newRow("malformed request line")
        << QByteArray("GARBAGE\r\n\r\n") << QByteArray("HTTP/1.1 400 Bad Request");
    QTest::newRow("unknown HTTP version")
        << QByteArray("GET / HTTP/9\r\n\r\n") << QByteArray("HTTP/1.1 400 Bad Request");
    QTest::newRow("malformed header") << QByteArray("GET / HTTP/1.1\r\nno colon\r\n\r\n")
                                      << QByteArray("HTTP/1.1 400 Bad Request");
    QTest::newRow("head over 8 KiB")
        << "GET / HTTP/1.1\r\nX-Long: " + QByteArray(9000, 'a') + "\r\n\r\n"
        << QByteArray("HTTP/1.1 431 Request Header Fields Too Large");
    QTest::newRow("endless head line")
        << QByteArray(20000, 'b') << QByteArray("HTTP/1.1 431 Request Header Fields Too Large");
    QTest::newRow("climbing path") << QByteArray("GET /../catalog/catalog.tsv HTTP/1.1\r\n\r\n")
                                   << QByteArray("HTTP/1.1 400 Bad Request");
    QTest::newRow("escaped climbing path")
        << QByteArray("GET /download/%2e%2e/%2e%2e/catalog.tsv HTTP/1.1\r\n\r\n")
        << QByteArray("HTTP/1.1 400 Bad Request");
    QTest::newRow("a body") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc")
                            << QByteArray("HTTP/1.1 400 Bad Request");
    QTest::newRow("other method") << QByteArray("DELETE / HTTP/1.1\r\n\r\n")
                                  << QByteArray("HTTP/1.1 405 Method Not Allowed");
    QTest::newRow("client stops mid-request")
        << QByteArray("GET /get_video_info?video_id=Demo1Clip01 HTTP/1.1\r\nHost: x\r\n")
        << QByteArray("HTTP/1.1 408 Request Timeout");
}

void TestStandin::badRequestsAreRefusedAndClosed()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statusLine);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, standin_->port());
    QVERIFY(client.waitForConnected(3000));
    client.write(request);
    QByteArray answer;
    const bool closed = QTest::qWaitFor(
        [&] {
            answer += client.readAll();
            return client.state() == QAbstractSocket::UnconnectedState;
        },
        8000);
    answer += client.readAll();
    QVERIFY2(closed, "the connection stayed open");
    QCOMPARE(answer.left(answer.indexOf("\r\n")), statusLine);
    QVERIFY(answer.contains("Connection: close\r\n"));
    QVERIFY(!answer.contains("Demo1Clip01\t")); // the catalog is never served
    QCOMPARE(standin_->process.state(), QProcess::Running);
}

void TestStandin::fileNamesAreMadeSafe()
{
    QTemporaryDir media;
    QVERIFY(media.isValid());
    QFile list(media.filePath(QStringLiteral("catalog.tsv")));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("Nasty000001\t1\tclip.webm\t../..\\etc/pass\x01wd: \"x\"\n");
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
             "attachment; filename=\"_.._etc_pass_wd_ _x_.webm\"; "
             "filename*=UTF-8''_.._etc_pass_wd_%20_x_.webm");
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
