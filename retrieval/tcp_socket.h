#pragma once

#include "socket.h"

#include <QAbstractSocket>
#include <QTimer>

#include <chrono>

class QTcpSocket;

namespace corvane {

// Socket on QTcpSocket. Each connection gets a fresh QTcpSocket, cut off from
// this object before it is aborted, so that nothing of a dropped connection
// (a late lookup result, a signal of abort() itself) reaches the caller.
class TcpSocket final : public Socket {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultConnectTimeout{30'000};

    explicit TcpSocket(QObject *parent = nullptr);
    ~TcpSocket() override;

    void Close() override;
    void Connect(const QString &RemoteHost, quint16 RemotePort) override;
    void SendData(const QString &text) override;
    QByteArray GetData(qint64 bytesTotal) override;

    // How long a connection attempt may take, host lookup included.
    void setConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }

private:
    void onConnected();
    void onReadyRead();
    void onErrorOccurred(QAbstractSocket::SocketError error);
    void onDisconnected();
    void onConnectTimeout();
    // Drops the connection without any event.
    void release();
    // Raises an event now, or, when QTcpSocket reports something while
    // Connect() is still running, once Connect() has returned.
    template <typename Event>
    void raise(Event event);

    QTcpSocket *connection_ = nullptr;
    // Counts Connect() and Close() calls; an event held back for a count that
    // has passed is dropped.
    quint64 generation_ = 0;
    bool insideConnect_ = false;
    QTimer connectTimer_;
    std::chrono::milliseconds connectTimeout_ = kDefaultConnectTimeout;
};

} // namespace corvane
