#include "http_server.h"

#include "http_connection.h"

#include <QSocketNotifier>
#include <QTcpServer>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace standin {

namespace {

// The kernel's share of a connection's unsent output (it doubles the value).
constexpr int kSendBufferSize = 128 * 1024;
// Connections taken in one go, so that a flood of them does not starve the
// connections already open.
constexpr int kAcceptBatch = 64;
// How long accepting pauses when the process is out of descriptors.
constexpr int kAcceptBackoffMs = 200;

} // namespace

HttpServer::HttpServer(Handler handler, ConnectionTimeouts timeouts, QObject *parent)
    : QObject(parent)
    , handler_(std::move(handler))
    , timeouts_(timeouts)
{
    backoff_.setSingleShot(true);
    connect(&backoff_, &QTimer::timeout, this, &HttpServer::resumeAccepting);
}

HttpServer::~HttpServer() = default;

bool HttpServer::listen(const QHostAddress &address, quint16 port)
{
    auto *server = new QTcpServer(this);
    server->setListenBacklogSize(1024);
    if (!server->listen(address, port)) {
        error_ = server->errorString();
        delete server;
        return false;
    }
    server->pauseAccepting();
    const Listener listener{
        server, new QSocketNotifier(server->socketDescriptor(), QSocketNotifier::Read, server)};
    connect(listener.notifier, &QSocketNotifier::activated, this,
            [this, listener] { accept(listener); });
    listeners_ << listener;
    return true;
}

QStringList HttpServer::addresses() const
{
    QStringList list;
    for (const Listener &listener : listeners_) {
        const QHostAddress address = listener.server->serverAddress();
        const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? u'[' + address.toString() + u']'
                                 : address.toString();
        list << host + u':' + QString::number(listener.server->serverPort());
    }
    return list;
}

quint16 HttpServer::port() const
{
    return listeners_.isEmpty() ? 0 : listeners_.first().server->serverPort();
}

void HttpServer::accept(const Listener &listener)
{
    for (int i = 0; i < kAcceptBatch; ++i) {
        const int descriptor = ::accept(int(listener.server->socketDescriptor()), nullptr, nullptr);
        if (descriptor >= 0) {
            adopt(descriptor);
            continue;
        }
        switch (errno) {
        case EINTR:
        case ECONNABORTED:
        case EPROTO:
            continue; // that client is gone; the next may be there
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
            // Accepting again at once would fail again at once: wait until a
            // connection closes, or for a short while.
            pauseAccepting();
            return;
        default: // EAGAIN: nobody else is waiting
            return;
        }
    }
}

void HttpServer::adopt(int descriptor)
{
    ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(descriptor, SOL_SOCKET, SO_SNDBUF, &kSendBufferSize, sizeof kSendBufferSize);
    auto *connection = new HttpConnection(descriptor, handler_, timeouts_, this);
    connect(connection, &HttpConnection::closed, this, [this, connection] {
        connection->deleteLater();
        resumeAccepting();
    });
}

void HttpServer::pauseAccepting()
{
    paused_ = true;
    for (const Listener &listener : std::as_const(listeners_))
        listener.notifier->setEnabled(false);
    backoff_.start(kAcceptBackoffMs);
}

void HttpServer::resumeAccepting()
{
    if (!paused_)
        return;
    paused_ = false;
    backoff_.stop();
    for (const Listener &listener : std::as_const(listeners_))
        listener.notifier->setEnabled(true);
}

} // namespace standin
