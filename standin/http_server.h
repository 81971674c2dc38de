#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>

#include <functional>

class QTcpServer;

namespace standin {

struct HttpRequest {
    QByteArray method;
    QByteArray target;
    // The path, percent-decoded, and the query's parameters, form-decoded.
    QByteArray path;
    QHash<QByteArray, QByteArray> query;
    // Header names in lower case.
    QHash<QByteArray, QByteArray> headers;
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
};

// A small HTTP/1.1 server for GET and HEAD: keep-alive, single byte ranges,
// never a compressed body. A request it cannot take (a malformed request
// line or header, a head over 8 KiB, a body, a ".." in the path, a client
// that stalls) gets a 4xx answer and the connection is closed.
class HttpServer final : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;

    static constexpr qsizetype kMaxHeadSize = 8 * 1024;
    static constexpr int kIdleTimeoutMs = 5000;

    explicit HttpServer(Handler handler, QObject *parent = nullptr);

    // Listens on one more address; false, with errorString(), when it cannot.
    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return error_; }
    // "127.0.0.1:80", "[::1]:80": where it listens.
    QStringList addresses() const;

private:
    void accept(QTcpServer *server);

    Handler handler_;
    QList<QTcpServer *> servers_;
    QString error_;
};

} // namespace standin
