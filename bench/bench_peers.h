#pragma once

#include "window_operations.h"

#include <QByteArray>
#include <QEventLoop>

#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <thread>

// The peers of the benchmarks: a server on 127.0.0.1:80, the window the
// Download command reports to, and the least a client can do.
namespace corvane::bench {

inline const QByteArray kRequestLink = "http://127.0.0.1/watch?v=bench";

sockaddr_in loopback80();

// A blocking server on its own thread: reads each request's head, then
// either answers it and closes, or floods the connection with bytes.
class ServerThread {
public:
    explicit ServerThread(qint64 floodBytes = 0);
    ~ServerThread();
    ServerThread(const ServerThread &) = delete;
    ServerThread &operator=(const ServerThread &) = delete;
    bool ok() const { return ok_; }

private:
    void serve();

    int listener_ = -1;
    bool ok_ = false;
    qint64 flood_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The window operations, ending a wait when the link is offered or an error
// shows.
class BenchWindow final : public WindowOperations {
public:
    QString RequestText() const override { return QString::fromLatin1(kRequestLink); }
    void SetStatusCaption(const QString &) override {}
    void SetLinkCaption(const QString &, const QString &) override {}
    void SetLinkVisible(bool visible) override
    {
        if (visible && loop)
            loop->quit();
    }
    void ShowErrorBox(const QString &message) override
    {
        std::fprintf(stderr, "error box: %s\n", qPrintable(message));
        if (loop)
            loop->exit(1);
    }

    QEventLoop *loop = nullptr;
};

// The least a client can do: connect, send the request, read until the
// token has ended. Microseconds, or -1 when it cannot connect.
double blockingRound(const QByteArray &request);

} // namespace corvane::bench
