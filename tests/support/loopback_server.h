#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A server on a loopback address whose replies the test writes by hand. It
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

// A listener on 127.0.0.1 whose accept queue is full and never served: a new
// connection attempt to it neither completes nor fails. Port 0 lets the
// system choose.
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

// The resident memory of this process, in bytes.
qint64 residentBytes();

// AddressSanitizer keeps freed memory in quarantine, so resident memory says
// nothing about what the program holds.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_UNDER_ASAN
#endif
#endif

// Writes `total` bytes of filler to a peer, a few chunks ahead of what the
// network takes, and follows this process's resident memory once `warmUp`
// bytes have gone, when the buffers are in use.
class FloodPump final : public QObject {
public:
    FloodPump(QTcpSocket *peer, qint64 total, qint64 warmUp);

    bool finished() const { return written_ >= total_ && peer_->bytesToWrite() == 0; }
    qint64 baselineBytes() const { return baseline_; }
    qint64 highestBytes() const { return highest_; }

private:
    void refill();

    QTcpSocket *peer_;
    qint64 total_;
    qint64 warmUp_;
    QByteArray chunk_;
    qint64 written_ = 0;
    qint64 baseline_ = -1;
    qint64 highest_ = 0;
};
