#include "child_process.h"
#include "expected.h"
#include "main_window.h"
#include "message_box_watcher.h"
#include "window_driver.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace corvane;

namespace {

const QByteArray kInfo = "status=ok&length_seconds=7&token=QWxhZGRpbg%3D%3D&title=Real+Caf%C3%A9"
                         "&fmt_list="
                         + QByteArray(900, 'x') + "&video_id=abc";
const QString kLink = expectedDownloadLink("abc", "QWxhZGRpbg%3D%3D", "Real+Caf%C3%A9");

const QByteArray kNginxTop = R"(worker_processes 1;
user root;
error_log @DIR@/error.log;
pid @DIR@/nginx.pid;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path @DIR@/body;
    proxy_temp_path @DIR@/proxy;
    fastcgi_temp_path @DIR@/fastcgi;
    uwsgi_temp_path @DIR@/uwsgi;
    scgi_temp_path @DIR@/scgi;
    default_type application/x-www-form-urlencoded;
)";

QByteArray nginx(const QByteArray &server)
{
    return kNginxTop + "    server {\n        listen 127.0.0.1:80;\n" + server + "    }\n}\n";
}

// Waits until something accepts connections on 127.0.0.1:80.
bool listening()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), 80);
        if (probe.waitForConnected(100))
            return true;
        QTest::qWait(50);
    }
    return false;
}

} // namespace

// The window against HTTP servers that nobody here wrote, each started on
// 127.0.0.1:80 with a configuration of its own.
class TestRealServers : public QObject {
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
};

void TestRealServers::replies_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QByteArray>("configuration");
    // The link that opens, or the message shown.
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("message");
    // The server closes the connection a second after the reply.
    QTest::addColumn<bool>("closesAfter");

    QTest::newRow("nginx, gzip in chunks")
        << "nginx"
        << nginx("        gzip on;\n        gzip_min_length 1;\n"
                 "        gzip_types application/x-www-form-urlencoded;\n"
                 "        location = /get_video_info { alias @DIR@/get_video_info; }\n")
        << kLink << "" << false;
    QTest::newRow("nginx, redirect")
        << "nginx"
        << nginx("        location = /get_video_info { return 301 http://127.0.0.1/moved; }\n")
        << ""
        << "The video site answered 301 Moved Permanently (to http://127.0.0.1/moved) instead of "
           "the video's info."
        << false;
    QTest::newRow("nginx, not found")
        << "nginx" << nginx("        location / { return 404; }\n") << ""
        << "The video site answered 404 Not Found instead of the video's info." << false;
    QTest::newRow("nginx, closes a second after the reply")
        << "nginx"
        << nginx("        keepalive_timeout 1s;\n"
                 "        location = /get_video_info { alias @DIR@/get_video_info; }\n")
        << kLink << "" << true;
    QTest::newRow("lighttpd, a static file")
        << "lighttpd"
        << QByteArray("server.document-root = \"@DIR@\"\nserver.bind = \"127.0.0.1\"\n"
                      "server.port = 80\nserver.errorlog = \"@DIR@/error.log\"\n"
                      "mimetype.assign = (\"\" => \"application/x-www-form-urlencoded\")\n")
        << kLink << "" << false;
    QTest::newRow("python http.server, a chunk ends inside the token")
        << "python" << QByteArray()
        << expectedDownloadLink("abc", "QWxhZGRpbg%3D%3D", "Chunked+Caf%C3%A9") << "" << false;
}

void TestRealServers::replies()
{
    QFETCH(QString, server);
    QFETCH(QByteArray, configuration);
    QFETCH(QString, link);
    QFETCH(QString, message);
    QFETCH(bool, closesAfter);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // The servers' workers may read it as another user.
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                          | QFile::ReadOther | QFile::ExeOther);
    QFile info(dir.filePath(QStringLiteral("get_video_info")));
    QVERIFY(info.open(QIODevice::WriteOnly) && info.write(kInfo) == kInfo.size());
    info.close();
    QFile config(dir.filePath(QStringLiteral("server.conf")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QByteArray(configuration).replace("@DIR@", QFile::encodeName(dir.path())));
    config.close();

    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithThisProcess(process);
    if (server == u"nginx")
        process.start(QStringLiteral("/usr/sbin/nginx"),
                      {"-p", dir.path(), "-c", config.fileName(), "-g", "daemon off;"});
    else if (server == u"lighttpd")
        process.start(QStringLiteral("/usr/sbin/lighttpd"), {"-D", "-f", config.fileName()});
    else
        process.start(QStringLiteral("python3"),
                      {QStringLiteral(CORVANE_SOURCE_DIR "/tests/realservers/chunking_server.py"),
                       "127.0.0.1", "80"});
    QVERIFY2(process.waitForStarted(5000), qPrintable(process.errorString()));
    const auto stop = qScopeGuard([&] {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(1000);
    });
    QVERIFY2(listening(), qPrintable(server + " does not listen on 127.0.0.1:80"));

    LinkCatcher catcher;
    MessageBoxWatcher boxes;
    Corvane_Downloader window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    pressDownload(&window, QStringLiteral("http://127.0.0.1/watch?v=abc"));
    auto *Label1 = window.findChild<QLabel *>(QStringLiteral("Label1"));
    QTRY_VERIFY_WITH_TIMEOUT(Label1->isVisible() || !boxes.seen.isEmpty(), 10000);

    if (!message.isEmpty()) {
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen[0].text, message);
        QVERIFY(!Label1->isVisible());
        QVERIFY(window.findChildren<QTcpSocket *>().isEmpty());
        return;
    }
    if (closesAfter) {
        QTRY_VERIFY_WITH_TIMEOUT(window.findChildren<QTcpSocket *>().isEmpty(), 5000);
        QTest::qWait(100);
    }
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(Label1->isVisible());
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label2"))->text(),
             QStringLiteral("Download link:"));
    QTest::mouseClick(Label1, Qt::LeftButton);
    QCOMPARE(catcher.opened.size(), 1);
    QCOMPARE(QString::fromLatin1(catcher.opened[0].toEncoded()), link);
}

QTEST_MAIN(TestRealServers)
#include "tst_real_servers.moc"
