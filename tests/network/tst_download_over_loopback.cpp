#include "constants.h"
#include "download_command.h"
#include "expected.h"
#include "link_parsing.h"
#include "loopback_server.h"
#include "recording_window.h"
#include "tcp_socket.h"

#include <QElapsedTimer>
#include <QTest>

using namespace corvane;

namespace {

} // namespace

// The Download command on the real socket against a server on 127.0.0.1:80.
class TestDownloadOverLoopback : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wholeRoad();
    void oneBytePerArrival();
    void resetAfterTheToken();
    void endlessReplyKeepsMemoryFlat();

private:
    // Types the link, presses Download and waits for the server to hold the
    // whole request.
    QTcpSocket *download(const QString &link);

    DownloadState state;
    RecordingWindow window;
    LoopbackServer *server = nullptr;
    TcpSocket *socket = nullptr;
    DownloadCommand *command = nullptr;
};

void TestDownloadOverLoopback::init()
{
    state = DownloadState();
    window = RecordingWindow();
    server = new LoopbackServer(kRemotePort);
    QVERIFY2(server->isListening(), qPrintable(server->errorString()));
    socket = new TcpSocket;
    command = new DownloadCommand(state, *socket, window);
}

void TestDownloadOverLoopback::cleanup()
{
    delete command;
    delete socket;
    delete server;
}

QTcpSocket *TestDownloadOverLoopback::download(const QString &link)
{
    window.requestText = link;
    command->Command1_Click();
    const int index = int(server->connections.size());
    if (!QTest::qWaitFor([&] { return server->received.value(index).endsWith("\r\n\r\n"); }, 5000))
        return nullptr;
    return server->connections.value(index);
}

void TestDownloadOverLoopback::wholeRoad()
{
    window.requestText = QStringLiteral("http://127.0.0.1/watch?v=abc123&feature=related");
    command->Command1_Click();
    QCOMPARE(window.statusCaption, QString(kWaitingCaption));
    QTRY_VERIFY_WITH_TIMEOUT(state.Connected, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(server->received.value(0),
                              expectedInfoRequest("abc123&feature=related", "127.0.0.1"), 5000);
    QTcpSocket *peer = server->latest();

    peer->write(kReplyHead + "status=ok&length_seconds=10&tok");
    QTRY_VERIFY_WITH_TIMEOUT(
        socket->findChildren<QTcpSocket *>().size() == 1 && !peer->bytesToWrite(), 5000);
    QTest::qWait(50);
    QVERIFY(!window.linkVisible);
    // The token is whole, the title not yet: no link.
    peer->write("en=vjV%3D&title=My+Clip");
    QTRY_VERIFY_WITH_TIMEOUT(!peer->bytesToWrite(), 5000);
    QTest::qWait(50);
    QVERIFY(!window.linkVisible);
    peer->write("&video_id=abc123");
    QTRY_VERIFY_WITH_TIMEOUT(window.linkVisible, 5000);
    QCOMPARE(state.DownloadLink,
             expectedDownloadLink("abc123&feature=related", "vjV%3D", "My+Clip"));
    QCOMPARE(window.statusCaption, QString(kLinkFoundCaption));
    QCOMPARE(window.linkCaption, QString(kLinkCaption));
    QVERIFY(!state.Connected);

    // The peer closes: the link stays on offer, the socket is let go.
    peer->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(socket->findChildren<QTcpSocket *>().isEmpty(), 5000);
    QVERIFY(window.linkVisible);
    QVERIFY(window.errorBoxes.isEmpty());

    // The next Download hides it.
    window.requestText = QStringLiteral("http://127.0.0.1/watch?v=next");
    command->Command1_Click();
    QVERIFY(!window.linkVisible);
    QCOMPARE(window.statusCaption, QString(kWaitingCaption));
}

void TestDownloadOverLoopback::oneBytePerArrival()
{
    const QByteArray reply = kReplyHead + "status=ok&token=AB%3D-_x&title=Caf%C3%A9+%26+More&x=1";
    QTcpSocket *peer = download(QStringLiteral("http://127.0.0.1/watch?v=id1"));
    QVERIFY(peer);

    // The next byte goes out only once the last one was taken.
    int arrivals = 0;
    qsizetype next = 0;
    auto sendNext = [&] {
        if (next < reply.size())
            peer->write(reply.mid(next++, 1));
    };
    connect(socket, &Socket::DataArrivalEvent, this, [&](qint64 bytesTotal) {
        QCOMPARE(bytesTotal, 1);
        ++arrivals;
        QTimer::singleShot(0, this, sendNext);
    });
    sendNext();
    QTRY_COMPARE_WITH_TIMEOUT(arrivals, reply.size(), 20000);
    QCOMPARE(state.DownloadLink, expectedDownloadLink("id1", "AB%3D-_x", "Caf%C3%A9+%26+More"));
    QVERIFY(window.linkVisible);
}

void TestDownloadOverLoopback::resetAfterTheToken()
{
    QTcpSocket *peer = download(QStringLiteral("http://127.0.0.1/watch?v=r"));
    QVERIFY(peer);
    peer->write(kReplyHead + "status=ok&token=TK&title=T&more=");
    QTRY_VERIFY_WITH_TIMEOUT(window.linkVisible, 5000);
    resetConnection(peer);
    QTRY_VERIFY_WITH_TIMEOUT(socket->findChildren<QTcpSocket *>().isEmpty(), 5000);
    QVERIFY(window.linkVisible);
    QCOMPARE(state.DownloadLink, expectedDownloadLink("r", "TK", "T"));
    QVERIFY(!state.Connected);
}

// 256 MiB of reply without a marker flows through without the process
// keeping it.
void TestDownloadOverLoopback::endlessReplyKeepsMemoryFlat()
{
    QTcpSocket *peer = download(QStringLiteral("http://127.0.0.1/watch?v=flood"));
    QVERIFY(peer);

    peer->write(kReplyHead);
    FloodPump flood(peer, 256LL * 1024 * 1024, 16 * 1024 * 1024);

    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(flood.finished(), 100000);
    const double seconds = double(clock.elapsed()) / 1000;
    QTest::qWait(100);
    const qint64 baseline = flood.baselineBytes();
    const qint64 highest = flood.highestBytes();
    qInfo("256 MiB in %.2f s; resident memory %.1f MiB after 16 MiB, %.1f MiB at most", seconds,
          double(baseline) / (1 << 20), double(highest) / (1 << 20));
    QVERIFY(baseline > 0);
#ifdef CORVANE_UNDER_ASAN
    qInfo("resident memory not bounded here: AddressSanitizer keeps freed memory in quarantine");
#else
    QVERIFY2(highest - baseline < 8 * 1024 * 1024, "resident memory grew with the reply");
#endif
    QVERIFY(!window.linkVisible);
    QVERIFY(window.errorBoxes.isEmpty());
    QCOMPARE(window.statusCaption, QString(kWaitingCaption));

    // The next Download works as ever.
    peer = download(QStringLiteral("http://127.0.0.1/watch?v=after"));
    QVERIFY(peer);
    peer->write(kReplyHead + "&token=ok&title=&");
    QTRY_COMPARE_WITH_TIMEOUT(state.DownloadLink, expectedDownloadLink("after", "ok", ""), 5000);
}

QTEST_GUILESS_MAIN(TestDownloadOverLoopback)
#include "tst_download_over_loopback.moc"
