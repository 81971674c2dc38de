#include "child_process.h"
#include "constants.h"
#include "expected.h"
#include "loopback_server.h"

#include <QProcess>
#include <QTemporaryFile>
#include <QTest>
#include <QUdpSocket>

#include <optional>

using namespace corvane;

class TestProgram : public QObject {
    Q_OBJECT

private slots:
    void endsSoonAfterItsWindowCloses_data();
    void endsSoonAfterItsWindowCloses();
    void answersItsCommandLine_data();
    void answersItsCommandLine();
};

void TestProgram::endsSoonAfterItsWindowCloses_data()
{
    QTest::addColumn<QString>("link");      // downloaded before the window closes
    QTest::addColumn<QByteArray>("server"); // on port 80: "hangs", or its reply to the request
    QTest::addColumn<QByteArray>("sign");   // what the probe reports before the close

    const QString abc = QStringLiteral("http://127.0.0.1/watch?v=abc");
    const auto row = [](const char *name, const QString &link, const QByteArray &server = {},
                        const QByteArray &sign = {}) {
        QTest::newRow(name) << link << server << sign;
    };
    row("idle", "");
    row("while a host lookup never ends", "http://video.example/watch?v=abc");
    row("while connecting", abc, "hangs");
    row("with the link on offer", abc, kReplyHead + "&token=T&title=X&", "link on offer\n");
    row("while an error box is open", "http://127.0.0.2/?v=a", "", "box Connection refused\n");
}

// The program as its own process, on the offscreen platform, driven by the
// window probe (tests/support/window_probe.cpp) loaded into it: it starts with its window,
// Download focused, and ends soon after the window closes, normally and with
// status 0, its connection gone and nothing more sent. Qt waits at exit for
// its name lookups, which nothing can cut short: it must end all the same.
void TestProgram::endsSoonAfterItsWindowCloses()
{
    QFETCH(QString, link);
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, sign);
    QStringList command{"env", "QT_QPA_PLATFORM=offscreen", "LD_PRELOAD=" CORVANE_PROBE_PATH,
                        "CORVANE_PROBE_LINK=" + link, CORVANE_PATH};
    // A name server on loopback that takes every query and never answers.
    QUdpSocket nameServer;
    QTemporaryFile resolvConf;
    const bool lookup = link.contains(u"video.example");
    if (lookup) {
        if (QProcess::execute(QStringLiteral("unshare"), {"--mount", "true"}) != 0)
            QSKIP("no private mount namespace for a name server of our own");
        if (!nameServer.bind(QHostAddress::LocalHost, 53)) {
            if (qEnvironmentVariableIsSet("CORVANE_NO_NAME_LOOKUP"))
                QSKIP("port 53 of the host's loopback is taken");
            QFAIL(qPrintable(nameServer.errorString()));
        }
        QVERIFY(resolvConf.open());
        resolvConf.write("nameserver 127.0.0.1\noptions timeout:30 attempts:1\n");
        resolvConf.close();
        const QString mount = "mount --bind \"$0\" /etc/resolv.conf && exec \"$@\"";
        command
            = QStringList{"unshare", "--mount", "sh", "-c", mount, resolvConf.fileName()} + command;
    }
    std::optional<HangingListener> hanging;
    std::optional<LoopbackServer> loopback;
    if (server != "hangs" && link.contains(u"127.0.0.1"))
        loopback.emplace(kRemotePort);
    if (server == "hangs")
        QVERIFY(hanging.emplace(kRemotePort).isReady());

    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(command.first(), command.mid(1));
    QByteArray output;
    const auto says = [&](const QByteArray &line) {
        return QTest::qWaitFor(
            [&] { return (output += program.readAllStandardOutput()).contains(line); }, 10000);
    };
    QVERIFY2(says("shown Corvane Downloader, focus Command1\n"), output.constData());
    if (lookup)
        QTRY_VERIFY_WITH_TIMEOUT(nameServer.hasPendingDatagrams(), 10000);
    const QByteArray request = expectedInfoRequest("abc", "127.0.0.1");
    if (loopback) {
        QTRY_COMPARE_WITH_TIMEOUT(loopback->received.value(0), request, 10000);
        loopback->latest()->write(server);
    }
    QVERIFY2(says(sign), output.constData());
    QTest::qWait(100); // well into the connection attempt
    program.write("close\n");
    QVERIFY2(says("closed, open sockets 0\n"), output.constData());
    QVERIFY2(program.state() == QProcess::NotRunning || program.waitForFinished(5000),
             "the program outlived its window by 5 s");
    QVERIFY2(says("closed, open sockets 0\ndestroyed\n"), output.constData());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    if (loopback) {
        QTRY_COMPARE(loopback->latest()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(loopback->received, QList<QByteArray>{request});
    }
}

void TestProgram::answersItsCommandLine_data()
{
    QTest::addColumn<QString>("arguments"); // one a word
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("says"); // how its output starts; with 2, how its errors end

    const QByteArray tryHelp = "Try 'corvane --help' for more information.\n";
    QTest::newRow("--version") << "--version" << 0 << QByteArray("Corvane " CORVANE_VERSION "\n");
    QTest::newRow("-h") << "-h" << 0 << QByteArray("Usage: corvane [options]\n");
    QTest::newRow("an unknown option after one of Qt's")
        << "-platform offscreen --bogus" << 2 << "corvane: Unknown option 'bogus'.\n" + tryHelp;
    QTest::newRow("an unknown option, before Qt needs a display")
        << "--bogus" << 2 << "corvane: Unknown option 'bogus'.\n" + tryHelp;
    QTest::newRow("an argument") << "bogus" << 2
                                 << "corvane: Unexpected argument 'bogus'.\n" + tryHelp;
}

// GNU's conventions: an answer and 0, or what is wrong and 2, and no window.
// No display either: reaching Qt's platform without one would abort.
void TestProgram::answersItsCommandLine()
{
    QFETCH(QString, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, says);
    qputenv("QT_QPA_PLATFORM", "none");
    QProcess program;
    program.start(CORVANE_PATH, arguments.split(u' '));
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), exitCode);
    const QByteArray output = program.readAllStandardOutput();
    const QByteArray errors = program.readAllStandardError();
    const bool right = exitCode == 0 ? output.startsWith(says) : errors.endsWith(says);
    QVERIFY2(right && (exitCode == 0 || output.isEmpty()), (output + errors).constData());
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
