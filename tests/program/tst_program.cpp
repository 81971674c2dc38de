#include "constants.h"
#include "expected.h"
#include "loopback_server.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTemporaryFile>
#include <QTest>
#include <QUdpSocket>

// The real program as its own process, offscreen, watched and driven by the
// window probe (tests/support/window_probe.cpp) loaded into it.
class TestProgram : public QObject {
    Q_OBJECT

private slots:
    void cleanup();

    void startsWithItsWindow();
    void endsSoonAfterItsWindowCloses_data();
    void endsSoonAfterItsWindowCloses();

private:
    // Starts the program, through `wrapper` when it is given, and waits for
    // its window.
    bool start(const QStringList &wrapper = {});
    void send(const QByteArray &command) { program_.write(command + '\n'); }
    // Waits for a line that starts with `prefix` and returns it.
    QString waitForLine(const QString &prefix, int timeoutMs = 10000);
    // Closes the window and checks that the process ends within 2 s, normally,
    // with status 0, after the window's own shut-down.
    void closeAndExpectTheEnd();

    QProcess program_;
    QStringList lines_;
};

void TestProgram::cleanup()
{
    if (program_.state() != QProcess::NotRunning) {
        program_.kill();
        program_.waitForFinished(5000);
    }
}

bool TestProgram::start(const QStringList &wrapper)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (wrapper.isEmpty()) {
        environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(CORVANE_PROBE_PATH));
        program_.setProgram(QStringLiteral(CORVANE_PATH));
    } else {
        // The probe goes into the program only, not into the wrapper.
        program_.setProgram(wrapper.first());
        program_.setArguments(wrapper.mid(1) << QStringLiteral("env")
                                             << QStringLiteral("LD_PRELOAD=" CORVANE_PROBE_PATH)
                                             << QStringLiteral(CORVANE_PATH));
    }
    program_.setProcessEnvironment(environment);
    lines_.clear();
    program_.start();
    return program_.waitForStarted(5000) && !waitForLine(QStringLiteral("shown ")).isNull();
}

QString TestProgram::waitForLine(const QString &prefix, int timeoutMs)
{
    QString found;
    (void)QTest::qWaitFor(
        [&] {
            while (program_.canReadLine())
                lines_ << QString::fromUtf8(program_.readLine()).chopped(1);
            for (const QString &line : std::as_const(lines_)) {
                if (line.startsWith(prefix))
                    found = line;
            }
            return !found.isNull() || program_.state() == QProcess::NotRunning;
        },
        timeoutMs);
    return found;
}

void TestProgram::closeAndExpectTheEnd()
{
    send("close");
    const QString closed = waitForLine(QStringLiteral("closed "));
    QVERIFY2(program_.state() == QProcess::NotRunning || program_.waitForFinished(10000),
             "the program outlived its window by 10 s");
    QElapsedTimer now;
    now.start();
    waitForLine(QStringLiteral("destroyed"), 0);

    const qint64 closedAt = closed.section(u' ', 1, 1).chopped(1).toLongLong();
    const qint64 ending = now.msecsSinceReference() - closedAt;
    qInfo("the program ended %lld ms after its window closed", ending);
    QCOMPARE(program_.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program_.exitCode(), 0);
    QCOMPARE(closed.section(u',', 1).trimmed(), QStringLiteral("open sockets 0"));
    QCOMPARE(lines_.last(), QStringLiteral("destroyed"));
    QVERIFY(ending >= 0 && ending < 2000);
}

void TestProgram::startsWithItsWindow()
{
    QVERIFY(start());
    QCOMPARE(lines_.value(0), QStringLiteral("shown Corvane Downloader, focus Command1"));
    closeAndExpectTheEnd();
}

void TestProgram::endsSoonAfterItsWindowCloses_data()
{
    QTest::addColumn<QString>("link");
    QTest::newRow("while a host lookup never ends") << "http://video.example/watch?v=abc";
    QTest::newRow("while a reply is awaited") << "http://127.0.0.1/watch?v=abc";
}

// Qt waits at exit for its name lookups, which nothing can cut short; the
// program must end all the same.
void TestProgram::endsSoonAfterItsWindowCloses()
{
    QFETCH(QString, link);
    const bool lookup = !link.contains(u"127.0.0.1");
    if (lookup && QProcess::execute(QStringLiteral("unshare"), {"--mount", "true"}) != 0)
        QSKIP("no private mount namespace for a name server of our own");

    // A name server on loopback that reads every query and never answers.
    QUdpSocket nameServer;
    int queries = 0;
    QTemporaryFile resolvConf;
    if (lookup) {
        if (!nameServer.bind(QHostAddress::LocalHost, 53)) {
            if (qEnvironmentVariableIsSet("CORVANE_NO_NAME_LOOKUP"))
                QSKIP("port 53 of the host's loopback is taken");
            QFAIL(qPrintable(nameServer.errorString()));
        }
        connect(&nameServer, &QUdpSocket::readyRead, this, [&] {
            while (nameServer.hasPendingDatagrams()) {
                nameServer.receiveDatagram();
                ++queries;
            }
        });
        QVERIFY(resolvConf.open());
        resolvConf.write("nameserver 127.0.0.1\noptions timeout:30 attempts:1\n");
        resolvConf.close();
    }
    LoopbackServer server(corvane::kRemotePort);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));

    if (lookup)
        QVERIFY(
            start({"unshare", "--mount", "sh", "-c",
                   "mount --bind \"$0\" /etc/resolv.conf && exec \"$@\"", resolvConf.fileName()}));
    else
        QVERIFY(start());
    send("download " + link.toUtf8());
    QVERIFY(!waitForLine(QStringLiteral("pressed")).isNull());
    if (lookup) {
        QTRY_VERIFY_WITH_TIMEOUT(queries > 0, 10000);
        QTest::qWait(100);
        QVERIFY(server.connections.isEmpty());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(server.received.value(0), expectedInfoRequest("abc", "127.0.0.1"),
                                  10000);
    }
    closeAndExpectTheEnd();
    if (!server.connections.isEmpty())
        QTRY_VERIFY(server.latest()->state() == QAbstractSocket::UnconnectedState);
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
