#include "child_process.h"
#include "download_command.h"
#include "expected.h"
#include "window_driver.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTemporaryDir>

using namespace corvane;
using namespace std::chrono_literals;

// The real window, offscreen, against HTTP servers that nobody here wrote,
// and the stand-in, on port 80 of loopback.
class TestRealServers : public QObject {
    Q_OBJECT

private slots:
    void infoEndpoints_data();
    void infoEndpoints();
};

void TestRealServers::infoEndpoints_data()
{
    QTest::addColumn<QString>("command");   // @DIR@: a folder of its own, with nginx.conf in it
    QTest::addColumn<QByteArray>("opened"); // after "video_id="; '*' is the stand-in's token
    QTest::addColumn<QString>("link");      // typed into the window

    const auto row = [](const char *name, const QString &command, const QByteArray &opened,
                        const QString &link = QStringLiteral("http://127.0.0.1/watch?v=abc")) {
        QTest::newRow(name) << command << opened << link;
    };
    const QString nginx = "/usr/sbin/nginx -p @DIR@ -c @DIR@/nginx.conf";
    row("nginx, gzip in chunks", nginx, "abc&id=QWxhZGRpbg%3D%3D&n=Real+Caf%C3%A9");
    // On its own defaults, 127.0.0.1:80 and [::1]:80, with tokens of its own.
    row("stand-in, a title beyond ASCII", "\"" CORVANE_STANDIN_PATH "\"",
        "CafeParis42&feature=share&id=*&n=Caf%C3%A9+de+Paris",
        "http://localhost/watch?v=CafeParis42&feature=share");
}

// What the window shows for each server's answer, and the link it opens.
void TestRealServers::infoEndpoints()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, opened);
    QFETCH(QString, link);

    QTemporaryDir dir;
    QFile source(QStringLiteral(CORVANE_SOURCE_DIR "/tests/realservers/nginx.conf"));
    QFile config(dir.filePath(QStringLiteral("nginx.conf")));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(source.readAll()
                     .replace("@DIR@", QFile::encodeName(dir.path()))
                     .replace("@PADDING@", QByteArray(900, 'x')));
    config.close();
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithThisProcess(server);
    const QStringList words = QProcess::splitCommand(command.replace("@DIR@", dir.path()));
    server.start(words.first(), words.mid(1));
    const auto stop = qScopeGuard([&server] {
        server.terminate();
        server.waitForFinished(5000);
    });
    const auto listening = [] {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), 80);
        return probe.waitForConnected(100);
    };
    QVERIFY2(QTest::qWaitFor(listening, 10000), qPrintable(command + " does not listen"));

    WindowDriver w;
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    w.window.findChild<DownloadCommand *>()->setReplyTimeout(800ms);
    w.download(link);
    QVERIFY(w.settled(true, 0));
    QCOMPARE(w.boxes, QStringList());
    const QByteArray url = w.clickLink();
    const QList<QByteArray> expected = expectedLinkQuery(opened).split('*');
    QVERIFY2(expected.size() == 1 ? url == expected[0]
                                  : url.startsWith(expected[0]) && url.endsWith(expected[1]),
             url.left(300) + " is not " + opened);
}

QTEST_MAIN(TestRealServers)
#include "tst_real_servers.moc"
