#include "loopback_server.h"

#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

void resetConnection(QTcpSocket *peer)
{
    const linger abortive{1, 0};
    ::setsockopt(static_cast<int>(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive,
                 sizeof abortive);
    peer->abort();
}

HangingListener::HangingListener(quint16 port)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    const int reuse = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    socklen_t length = sizeof address;
    auto *raw = reinterpret_cast<sockaddr *>(&address);
    if (::bind(listener_, raw, length) != 0 || ::listen(listener_, 0) != 0
        || ::getsockname(listener_, raw, &length) != 0)
        return;
    port_ = ntohs(address.sin_port);

    // Fill the queue until an attempt stays unanswered.
    for (int attempt = 0; attempt < 8 && !ready_; ++attempt) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        fillers_ << filler;
        ::connect(filler, raw, length);
        pollfd watch{filler, POLLOUT, 0};
        ready_ = ::poll(&watch, 1, 300) == 0;
    }
}

HangingListener::~HangingListener()
{
    for (int filler : std::as_const(fillers_))
        ::close(filler);
    if (listener_ >= 0)
        ::close(listener_);
}

qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}
