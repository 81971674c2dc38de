#include "loopback_server.h"
#include "tcp_socket.h"

#include <QTest>
#include <QThread>

#include <optional>
#include <sys/resource.h>
#include <unistd.h>

using namespace corvane;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

class TestTcpSocket : public QObject {
    Q_OBJECT

private slots:
    void init() { log = {}; }
    void failsAtEveryPoint_data();
    void failsAtEveryPoint();
    void unreadDataIsBounded();

private:
    // Logs the socket's events in order, and takes what arrives when `take`.
    void watch(TcpSocket &socket, bool take)
    {
        connect(&socket, &Socket::ConnectEvent, this, [this] { log.events << u"Connect"_s; });
        connect(&socket, &Socket::CloseEvent, this, [this] { log.events << u"Close"_s; });
        connect(&socket, &Socket::ErrorEvent, this,
                [this](int, const QString &text) { log.events << "Error " + text; });
        connect(&socket, &Socket::DataArrivalEvent, this, [this, &socket, take](qint64 total) {
            log.events << (log.events.endsWith(u"Data"_s) ? QStringList() : QStringList{"Data"});
            log.largest = std::max(log.largest, total);
            log.data += take ? socket.GetData(total) : QByteArray();
        });
    }

    struct {
        QStringList events;
        qint64 largest = 0; // DataArrival's largest bytesTotal
        QByteArray data;
    } log;
};

void TestTcpSocket::failsAtEveryPoint_data()
{
    QTest::addColumn<QString>("point");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QStringList>("events"); // when left alone; after Close() none

    const QStringList notFound{"Error Host not found"};
    const QStringList closed{"Connect", "Data", "Close"};
    for (const char *close : {"left alone", "then Close()"}) {
        const auto row = [close](const char *point, const char *host, const QStringList &events) {
            QTest::addRow("%s, %s", point, close) << point << host << events;
        };
        row("connecting", "127.0.0.1", {"Connect"});
        // QTcpSocket then reports the failure before connectToHost() returns.
        row("no descriptor left", "127.0.0.1", {"Error Out of resources"});
        row("refused", "127.0.0.2", {"Error Connection refused"});
        row("empty host", "", notFound);
        row("host with a port suffix", "127.0.0.1:8080", notFound);
        row("attempt hangs", "127.0.0.1", {"Error Connection timed out"});
        row("connected", "127.0.0.1", {"Connect"});
        row("peer closes after data", "127.0.0.1", closed);
        row("peer resets after data", "127.0.0.1", closed);
    }
}

// Each point of a connection's life, left alone or closed there; the bytes
// cross one a character both ways.
void TestTcpSocket::failsAtEveryPoint()
{
    QFETCH(QString, point);
    QFETCH(QString, host);
    QFETCH(QStringList, events);
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);

    LoopbackServer server(80);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    std::optional<HangingListener> hanging;
    if (point == u"attempt hangs")
        QVERIFY(hanging.emplace().isReady());
    TcpSocket socket;
    socket.setConnectTimeout(300ms);
    watch(socket, true);
    rlimit descriptors{};
    getrlimit(RLIMIT_NOFILE, &descriptors);
    if (point == u"no descriptor left") {
#ifdef CORVANE_UNDER_ASAN // and UBSan: they open files of their own to report
        QSKIP("the sanitizers need descriptors of their own");
#endif
        const int lowestFree = dup(0);
        close(lowestFree);
        const rlimit none{rlim_t(lowestFree), descriptors.rlim_max};
        setrlimit(RLIMIT_NOFILE, &none);
    }
    socket.Connect(host, hanging ? hanging->port() : 80);
    setrlimit(RLIMIT_NOFILE, &descriptors);
    QVERIFY(log.events.isEmpty()); // Connect() returns before any event
    QThread::msleep(50);           // what the network answers waits in the kernel

    if (point.startsWith(u"connected") || point.startsWith(u"peer")) {
        QTRY_VERIFY_WITH_TIMEOUT(server.latest() && log.events == QStringList{"Connect"}, 5000);
        socket.SendData(QString::fromLatin1(all) + QChar(0x4e2d));
        QTRY_COMPARE_WITH_TIMEOUT(server.received.value(0), all + "?", 5000);
    }
    if (point.startsWith(u"peer")) {
        server.latest()->write(all);
        QTRY_COMPARE_WITH_TIMEOUT(log.data, all, 5000);
        if (point.contains(u"resets"))
            resetConnection(server.latest());
        else
            server.latest()->disconnectFromHost();
        QThread::msleep(50);
    }
    if (QByteArrayView(QTest::currentDataTag()).endsWith("Close()")) {
        events = log.events;
        socket.Close();
        socket.Close(); // on a closed socket it does nothing
    }
    QTRY_COMPARE_WITH_TIMEOUT(log.events, events, 10000);
    QTest::qWait(400);
    QCOMPARE(log.events, events);
}

// A peer that sends faster than the program takes fills no more than the
// socket's read buffer; the rest waits in the network, and nothing is lost.
void TestTcpSocket::unreadDataIsBounded()
{
    LoopbackServer server(80);
    TcpSocket socket;
    watch(socket, false);
    socket.Connect(u"127.0.0.1"_s, 80);
    QTRY_VERIFY_WITH_TIMEOUT(server.latest(), 5000);
    server.latest()->write(QByteArray(4 << 20, 'x'));
    QTRY_VERIFY_WITH_TIMEOUT(log.largest >= 64 * 1024, 5000);
    QCOMPARE(log.largest, 64 * 1024);

    qint64 taken = socket.GetData(4 << 20).size();
    connect(&socket, &Socket::DataArrivalEvent, this,
            [&](qint64 total) { taken += socket.GetData(total).size(); });
    QTRY_COMPARE_WITH_TIMEOUT(taken, 4 << 20, 10000);
}

QTEST_GUILESS_MAIN(TestTcpSocket)
#include "tst_tcp_socket.moc"
