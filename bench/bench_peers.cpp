#include "bench_peers.h"

#include "constants.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::bench {

namespace {

const QByteArray kBody = "status=ok&length_seconds=3&token=vjVQa1PpcFN%3D&title=Bench+clip"
                         "&video_id=bench";
const QByteArray kReply = "HTTP/1.1 200 OK\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          "Content-Length: "
                          + QByteArray::number(kBody.size()) + "\r\n\r\n" + kBody;

} // namespace

sockaddr_in loopback80()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kRemotePort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

ServerThread::ServerThread(qint64 floodBytes)
    : flood_(floodBytes)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int reuse = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address = loopback80();
    ok_ = ::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
          && ::listen(listener_, 128) == 0;
    if (ok_)
        thread_ = std::thread([this] { serve(); });
}

ServerThread::~ServerThread()
{
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable())
        thread_.join();
    ::close(listener_);
}

void ServerThread::serve()
{
    while (!stop_) {
        const int peer = ::accept(listener_, nullptr, nullptr);
        if (peer < 0)
            return;
        char buffer[4096];
        QByteArray head;
        while (!head.contains("\r\n\r\n")) {
            const ssize_t got = ::recv(peer, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            head.append(buffer, got);
        }
        if (flood_ > 0) {
            const QByteArray chunk(256 * 1024, 'f');
            ::send(peer, "HTTP/1.1 200 OK\r\n\r\n", 19, MSG_NOSIGNAL);
            for (qint64 sent = 0; sent < flood_ && !stop_; sent += chunk.size()) {
                if (::send(peer, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL) < 0)
                    break;
            }
        } else {
            ::send(peer, kReply.constData(), size_t(kReply.size()), MSG_NOSIGNAL);
        }
        ::close(peer);
    }
}

double blockingRound(const QByteArray &request)
{
    QElapsedTimer clock;
    clock.start();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback80();
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
    QByteArray reply;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        reply.append(buffer, got);
        const qsizetype token = reply.indexOf("&token=");
        if (token >= 0 && reply.indexOf('&', token + 7) >= 0)
            break;
    }
    ::close(fd);
    return double(clock.nsecsElapsed()) / 1e3;
}

} // namespace corvane::bench
