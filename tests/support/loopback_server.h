#pragma once

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A server on a loopback address whose replies the test writes by hand; it
// keeps every accepted connection and what arrived on it.
class LoopbackServer final : public QObject {
    Q_OBJECT

public:
    explicit LoopbackServer(quint16 port, const QHostAddress &address = QHostAddress::LocalHost)
    {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *peer = server_.nextPendingConnection()) {
                const qsizetype index = connections.size();
                connections << peer;
                received << QByteArray();
                connect(peer, &QTcpSocket::readyRead, this,
                        [this, peer, index] { received[index] += peer->readAll(); });
            }
        });
        server_.listen(address, port);
    }

    bool isListening() const { return server_.isListening(); }
    QString errorString() const { return server_.errorString(); }
    QTcpSocket *latest() const { return connections.isEmpty() ? nullptr : connections.last(); }

    QList<QPointer<QTcpSocket>> connections;
    QList<QByteArray> received;

private:
    QTcpServer server_;
};

// Drops a connection with a TCP reset instead of an orderly close.
void resetConnection(QTcpSocket *peer);

// A listener on 127.0.0.1 (port 0: the system chooses) whose accept queue is
// full and never served: a new connection attempt neither completes nor fails.
class HangingListener {
public:
    explicit HangingListener(quint16 port = 0);
    ~HangingListener();
    HangingListener(const HangingListener &) = delete;
    HangingListener &operator=(const HangingListener &) = delete;

    // True once an attempt to connect was seen to hang.
    bool isReady() const { return ready_; }
    quint16 port() const { return port_; }

private:
    int listener_ = -1;
    QList<int> fillers_;
    quint16 port_ = 0;
    bool ready_ = false;
};

qint64 residentBytes();

// AddressSanitizer keeps freed memory, so resident memory says nothing there.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_UNDER_ASAN
#endif
#endif
