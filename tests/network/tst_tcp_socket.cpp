#include "constants.h"
#include "loopback_server.h"
#include "tcp_socket.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <optional>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

QByteArray everyByte()
{
    QByteArray bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<char>(i);
    return bytes;
}

// The socket's events in order, and what DataArrival handed over.
class EventLog : public QObject {
public:
    explicit EventLog(TcpSocket &socket, bool takeData = true)
        : socket_(socket)
    {
        connect(&socket, &Socket::ConnectEvent, this,
                [this] { events << QStringLiteral("Connect"); });
        connect(&socket, &Socket::CloseEvent, this, [this] { events << QStringLiteral("Close"); });
        connect(&socket, &Socket::ErrorEvent, this, [this](int, const QString &description) {
            events << QStringLiteral("Error ") + description;
        });
        connect(&socket, &Socket::DataArrivalEvent, this, [this, takeData](qint64 bytesTotal) {
            if (!events.endsWith(QStringLiteral("Data")))
                events << QStringLiteral("Data");
            totals << bytesTotal;
            if (takeData)
                data += socket_.GetData(bytesTotal);
        });
    }

    QStringList events;
    QList<qint64> totals;
    QByteArray data;

private:
    TcpSocket &socket_;
};

} // namespace

class TestTcpSocket : public QObject {
    Q_OBJECT

private slots:
    void bytesCrossAsLatin1();
    void peerCloseIsACloseNotAnError();
    void failuresRaiseOneError_data();
    void failuresRaiseOneError();
    void nothingFollowsClose_data();
    void nothingFollowsClose();
    void attemptThatHangsTimesOut();
    void unreadDataIsBounded();
    void resetMidReply();
};

void TestTcpSocket::bytesCrossAsLatin1()
{
    LoopbackServer server(kRemotePort);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    TcpSocket socket;
    EventLog log(socket);

    socket.Connect(QStringLiteral("127.0.0.1"), kRemotePort);
    QVERIFY(log.events.isEmpty()); // Connect() returns before any event
    QTRY_COMPARE_WITH_TIMEOUT(log.events, QStringList{"Connect"}, 5000);

    socket.SendData(QString::fromLatin1(everyByte()) + QChar(0x4e2d) + QChar(0x20ac));
    QTRY_COMPARE_WITH_TIMEOUT(server.received.value(0), everyByte() + "??", 5000);

    QVERIFY(server.latest());
    server.latest()->write(everyByte());
    QTRY_COMPARE_WITH_TIMEOUT(log.data, everyByte(), 5000);
    QCOMPARE(log.events, (QStringList{"Connect", "Data"}));
}

// The peer's last bytes come as DataArrival, then Close; never an Error.
void TestTcpSocket::peerCloseIsACloseNotAnError()
{
    LoopbackServer server(kRemotePort);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    TcpSocket socket;
    EventLog log(socket);

    socket.Connect(QStringLiteral("127.0.0.1"), kRemotePort);
    QTRY_VERIFY_WITH_TIMEOUT(server.latest(), 5000);
    server.latest()->write("status=ok&token=last");
    server.latest()->disconnectFromHost();

    QTRY_COMPARE_WITH_TIMEOUT(log.events, (QStringList{"Connect", "Data", "Close"}), 5000);
    QCOMPARE(log.data, "status=ok&token=last");
    QTest::qWait(100);
    QCOMPARE(log.events.size(), 3);
    QCOMPARE(socket.GetData(100), QByteArray()); // the connection is gone
}

void TestTcpSocket::failuresRaiseOneError_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("description");
    QTest::addColumn<bool>("needsNameLookup");

    QTest::newRow("refused") << "127.0.0.2"
                             << "Connection refused" << false;
    QTest::newRow("empty host") << ""
                                << "Host not found" << false;
    QTest::newRow("host with a port suffix") << "127.0.0.1:8080"
                                             << "Host not found" << false;
    QTest::newRow("unknown name") << "nothing-here.invalid"
                                  << "Host not found" << true;
}

void TestTcpSocket::failuresRaiseOneError()
{
    QFETCH(QString, host);
    QFETCH(QString, description);
    QFETCH(bool, needsNameLookup);
    if (needsNameLookup && qEnvironmentVariableIsSet("CORVANE_NO_NAME_LOOKUP"))
        QSKIP("a name lookup would leave this machine outside a private network namespace");

    TcpSocket socket;
    EventLog log(socket);
    socket.Connect(host, kRemotePort);
    QVERIFY(log.events.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(log.events, QStringList{"Error " + description}, 10000);
    QTest::qWait(100);
    QCOMPARE(log.events.size(), 1);
}

void TestTcpSocket::nothingFollowsClose_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("right after Connect") << "connect";
    QTest::newRow("refused, before the error is taken") << "refused";
    QTest::newRow("while the attempt hangs") << "hanging";
    QTest::newRow("data and close waiting to be taken") << "pending";
    QTest::newRow("connected, peer silent") << "connected";
}

// Close() raises nothing itself, and no event of what it dropped follows,
// even when the network has already answered.
void TestTcpSocket::nothingFollowsClose()
{
    QFETCH(QString, when);
    LoopbackServer server(kRemotePort);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    std::optional<HangingListener> hanging;
    TcpSocket socket;
    EventLog log(socket);

    if (when == "connect") {
        socket.Connect(QStringLiteral("127.0.0.1"), kRemotePort);
    } else if (when == "refused") {
        socket.Connect(QStringLiteral("127.0.0.2"), kRemotePort);
        QThread::msleep(50); // the refusal is waiting in the kernel
    } else if (when == "hanging") {
        hanging.emplace();
        QVERIFY(hanging->isReady());
        socket.setConnectTimeout(200ms);
        socket.Connect(QStringLiteral("127.0.0.1"), hanging->port());
        QTest::qWait(50);
    } else {
        socket.Connect(QStringLiteral("127.0.0.1"), kRemotePort);
        QTRY_VERIFY_WITH_TIMEOUT(server.latest() && log.events == QStringList{"Connect"}, 5000);
        if (when == "pending") {
            server.latest()->write("&token=late");
            server.latest()->disconnectFromHost();
            QThread::msleep(50); // data and the close are waiting in the kernel
        }
    }
    const QStringList before = log.events;
    socket.Close();
    socket.Close(); // closing a closed socket does nothing
    QTest::qWait(400);
    QCOMPARE(log.events, before);
    QVERIFY(log.data.isEmpty());
}

void TestTcpSocket::attemptThatHangsTimesOut()
{
    HangingListener hanging;
    QVERIFY(hanging.isReady());
    TcpSocket socket;
    EventLog log(socket);
    socket.setConnectTimeout(300ms);

    QElapsedTimer clock;
    clock.start();
    socket.Connect(QStringLiteral("127.0.0.1"), hanging.port());
    QTRY_VERIFY_WITH_TIMEOUT(!log.events.isEmpty(), 5000);
    QVERIFY(clock.elapsed() >= 290);
    QCOMPARE(log.events, QStringList{"Error Connection timed out"});
    QTest::qWait(200);
    QCOMPARE(log.events.size(), 1);
}

// A peer that sends faster than the program takes fills no more than the
// socket's read buffer; the rest waits in the network.
void TestTcpSocket::unreadDataIsBounded()
{
    LoopbackServer server(kRemotePort);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    TcpSocket socket;
    EventLog log(socket, false);

    socket.Connect(QStringLiteral("127.0.0.1"), kRemotePort);
    QTRY_VERIFY_WITH_TIMEOUT(server.latest(), 5000);
    const QByteArray flood(4 * 1024 * 1024, 'x');
    server.latest()->write(flood);
    QTest::qWait(300);
    QVERIFY(!log.totals.isEmpty());
    for (qint64 total : std::as_const(log.totals))
        QVERIFY(total <= TcpSocket::kReadBufferSize);

    qint64 taken = 0;
    connect(&socket, &Socket::DataArrivalEvent, this,
            [&](qint64 bytesTotal) { taken += socket.GetData(bytesTotal).size(); });
    taken += socket.GetData(flood.size()).size();
    QTRY_COMPARE_WITH_TIMEOUT(taken, flood.size(), 10000);
}

// A reset after part of the reply: the bytes that came are handed over, then
// exactly one event ends the connection.
void TestTcpSocket::resetMidReply()
{
    LoopbackServer server(kRemotePort);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    TcpSocket socket;
    EventLog log(socket);

    socket.Connect(QStringLiteral("127.0.0.1"), kRemotePort);
    QTRY_VERIFY_WITH_TIMEOUT(server.latest(), 5000);
    server.latest()->write("status=ok&token=AB");
    QTRY_COMPARE_WITH_TIMEOUT(log.data, QStringLiteral("status=ok&token=AB"), 5000);
    resetConnection(server.latest());

    QTRY_COMPARE_WITH_TIMEOUT(log.events.size(), 3, 5000);
    QCOMPARE(log.events.mid(0, 2), (QStringList{"Connect", "Data"}));
    qInfo() << "a reset is reported as" << log.events.last();
    QVERIFY(log.events.last() == "Close" || log.events.last().startsWith("Error "));
    QTest::qWait(100);
    QCOMPARE(log.events.size(), 3);
}

QTEST_GUILESS_MAIN(TestTcpSocket)
#include "tst_tcp_socket.moc"
