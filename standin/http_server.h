#pragma once

#include "http_message.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <functional>

class QSocketNotifier;
class QTcpServer;

namespace standin {

// How long a connection waits, in milliseconds: for its next request (408
// for one begun and not whole by then, else a close), for its client to read
// some of an answer, and for its client to close after an answer that said
// close.
struct ConnectionTimeouts {
    int idle = 5000;
    int stall = 30000;
    int linger = 2000;
};

// A small HTTP/1.1 server for GET and HEAD, on llhttp: keep-alive and
// pipelining, single byte ranges with If-Range, never a compressed body.
// A request it cannot take (anything llhttp rejects, a head over 8 KiB, a
// body, a folded header line, a missing or repeated Host, a ".." in the
// path) gets a 4xx answer and the connection is closed; a client that stalls gets 408. Each
// connection reads its next request only once the last answer is sent, keeps
// its unsent output well under 1 MiB, and is dropped when its client reads
// nothing for a while (timeouts). When the process runs out of descriptors it stops
// accepting until a connection closes, or for a short while.
class HttpServer final : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;

    explicit HttpServer(Handler handler, ConnectionTimeouts timeouts = {},
                        QObject *parent = nullptr);
    ~HttpServer() override;

    // Listens on one more address; false, with errorString(), when it cannot.
    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return error_; }
    // "127.0.0.1:80", "[::1]:80": where it listens.
    QStringList addresses() const;
    // The port of the first address.
    quint16 port() const;

private:
    // QTcpServer binds and listens; the accepting is done here, where the
    // reason of a failure can be seen.
    struct Listener {
        QTcpServer *server = nullptr;
        QSocketNotifier *notifier = nullptr;
    };

    void accept(const Listener &listener);
    void adopt(int descriptor);
    void pauseAccepting();
    void resumeAccepting();

    Handler handler_;
    ConnectionTimeouts timeouts_;
    QList<Listener> listeners_;
    QString error_;
    QTimer backoff_;
    bool paused_ = false;
};

} // namespace standin
