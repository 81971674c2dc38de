#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class QFile;
class QSocketNotifier;
class QTcpServer;

namespace standin {

struct HttpRequest {
    QByteArray method;
    QByteArray target;
    // The path, percent-decoded except for "%2F", which stays as it is so that
    // an encoded slash never separates segments; the query's parameters,
    // form-decoded.
    QByteArray path;
    QHash<QByteArray, QByteArray> query;
    // Header names in lower case; repeated fields joined with ", ".
    QHash<QByteArray, QByteArray> headers;
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // An open file sent as the body instead of body: streamed in blocks, with
    // single byte ranges, a strong ETag and Last-Modified.
    std::shared_ptr<QFile> file;
};

// A small HTTP/1.1 server for GET and HEAD, on llhttp: keep-alive and
// pipelining, single byte ranges with If-Range, never a compressed body.
// A request it cannot take (anything llhttp rejects, a head over 8 KiB, a
// body, a missing or repeated Host, a ".." in the path) gets a 4xx answer
// and the connection is closed; a client that stalls gets 408. Each
// connection reads its next request only once the last answer is sent, keeps
// its unsent output well under 1 MiB, and is dropped when its client reads
// nothing for 30 s. When the process runs out of descriptors it stops
// accepting until a connection closes, or for a short while.
class HttpServer final : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;

    static constexpr qsizetype kMaxHeadSize = 8 * 1024;
    static constexpr int kIdleTimeoutMs = 5000;
    static constexpr int kStallTimeoutMs = 30000;
    static constexpr int kAcceptBackoffMs = 200;

    explicit HttpServer(Handler handler, QObject *parent = nullptr);
    ~HttpServer() override;

    // Listens on one more address; false, with errorString(), when it cannot.
    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return error_; }
    // "127.0.0.1:80", "[::1]:80": where it listens.
    QStringList addresses() const;
    // The port of the first address.
    quint16 port() const;

    const Handler &handler() const { return handler_; }

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
    QList<Listener> listeners_;
    QString error_;
    QTimer backoff_;
    bool paused_ = false;
};

} // namespace standin
