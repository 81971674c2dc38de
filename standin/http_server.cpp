#include "http_server.h"

#include <QDateTime>
#include <QLocale>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace standin {

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 416:
        return "Range Not Satisfiable";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Unknown";
    }
}

QByteArray formDecode(QByteArray text)
{
    return QByteArray::fromPercentEncoding(text.replace('+', ' '));
}

HttpResponse errorPage(int status, const QByteArray &explanation)
{
    HttpResponse response;
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    response.body = "<!DOCTYPE html>\n<title>" + QByteArray::number(status) + ' '
                    + reasonPhrase(status) + "</title>\n<h1>" + reasonPhrase(status) + "</h1>\n<p>"
                    + explanation + "</p>\n";
    return response;
}

// Parses "bytes=a-b", "bytes=a-" or "bytes=-n" against a body of the given
// size; false when the range cannot be served.
bool parseRange(QByteArrayView header, qsizetype size, qsizetype &first, qsizetype &last)
{
    if (!header.startsWith("bytes=") || header.contains(','))
        return false;
    const QByteArrayView range = header.sliced(6);
    const qsizetype dash = range.indexOf('-');
    if (dash < 0)
        return false;
    bool okFirst = true;
    bool okLast = true;
    const QByteArrayView from = range.first(dash);
    const QByteArrayView to = range.sliced(dash + 1);
    if (from.isEmpty()) {
        const qlonglong suffix = to.toLongLong(&okLast);
        if (!okLast || suffix <= 0)
            return false;
        first = size - std::min<qsizetype>(suffix, size);
        last = size - 1;
    } else {
        first = from.toLongLong(&okFirst);
        last = to.isEmpty() ? size - 1 : to.toLongLong(&okLast);
        last = std::min(last, size - 1);
    }
    return okFirst && okLast && first >= 0 && first <= last && first < size;
}

// One client connection: reads request heads, answers them in order, and
// closes when the client asks, on a bad request or when it stays idle.
class HttpConnection final : public QObject {
public:
    HttpConnection(QTcpSocket *socket, const HttpServer::Handler &handler)
        : QObject(socket)
        , socket_(socket)
        , handler_(handler)
    {
        idle_.setSingleShot(true);
        connect(&idle_, &QTimer::timeout, this, [this] {
            if (buffer_.isEmpty())
                socket_->disconnectFromHost();
            else
                refuse(408, "The request did not arrive in time.");
        });
        connect(socket_, &QTcpSocket::readyRead, this, &HttpConnection::read);
        connect(socket_, &QTcpSocket::disconnected, socket_, &QObject::deleteLater);
        idle_.start(HttpServer::kIdleTimeoutMs);
    }

private:
    void read()
    {
        if (closing_) {
            socket_->readAll();
            return;
        }
        buffer_ += socket_->readAll();
        while (!closing_) {
            const qsizetype end = buffer_.indexOf("\r\n\r\n");
            if (end < 0) {
                if (buffer_.size() > HttpServer::kMaxHeadSize)
                    refuse(431, "The request's head is larger than 8 KiB.");
                return;
            }
            if (end + 4 > HttpServer::kMaxHeadSize) {
                refuse(431, "The request's head is larger than 8 KiB.");
                return;
            }
            const QByteArray head = buffer_.left(end);
            buffer_.remove(0, end + 4);
            handle(head);
        }
    }

    void handle(const QByteArray &head)
    {
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> requestLine = lines[0].trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine[1].startsWith('/')
            || (requestLine[2] != "HTTP/1.1" && requestLine[2] != "HTTP/1.0")) {
            refuse(400, "The request line is not understood.");
            return;
        }
        HttpRequest request;
        request.method = requestLine[0];
        request.target = requestLine[1];
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0) {
                refuse(400, "A header line is not understood.");
                return;
            }
            request.headers.insert(line.left(colon).trimmed().toLower(),
                                   line.mid(colon + 1).trimmed());
        }
        if (request.headers.value("content-length", "0") != "0"
            || request.headers.contains("transfer-encoding")) {
            refuse(400, "Requests with a body are not taken.");
            return;
        }
        const qsizetype question = request.target.indexOf('?');
        request.path = QByteArray::fromPercentEncoding(
            question < 0 ? request.target : request.target.left(question));
        if (request.path.split('/').contains("..")) {
            refuse(400, "The path may not climb out of the site.");
            return;
        }
        if (question >= 0) {
            for (const QByteArray &pair : request.target.mid(question + 1).split('&')) {
                const qsizetype equals = pair.indexOf('=');
                request.query.insert(formDecode(pair.left(equals)),
                                     equals < 0 ? QByteArray() : formDecode(pair.mid(equals + 1)));
            }
        }
        const bool head_only = request.method == "HEAD";
        if (request.method != "GET" && !head_only) {
            refuse(405, "Only GET and HEAD are served.");
            return;
        }

        HttpResponse response = handler_(request);
        const QByteArray connection = request.headers.value("connection").toLower();
        const bool close
            = requestLine[2] == "HTTP/1.0" ? connection != "keep-alive" : connection == "close";
        answer(response, request, head_only, close);
        idle_.start(HttpServer::kIdleTimeoutMs);
    }

    void answer(HttpResponse response, const HttpRequest &request, bool headOnly, bool close)
    {
        QByteArray contentRange;
        if (response.status == 200 && request.headers.contains("range")) {
            qsizetype first = 0;
            qsizetype last = 0;
            if (parseRange(request.headers.value("range"), response.body.size(), first, last)) {
                contentRange = "bytes " + QByteArray::number(first) + '-' + QByteArray::number(last)
                               + '/' + QByteArray::number(response.body.size());
                response.status = 206;
                response.body = response.body.mid(first, last - first + 1);
            } else {
                const QByteArray size = QByteArray::number(response.body.size());
                response = errorPage(416, "The requested range lies outside the file.");
                contentRange = "bytes */" + size;
            }
        }
        QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' '
                         + reasonPhrase(response.status) + "\r\n";
        out += "Date: "
               + QLocale::c()
                     .toString(QDateTime::currentDateTimeUtc(), "ddd, dd MMM yyyy hh:mm:ss")
                     .toLatin1()
               + " GMT\r\n";
        out += "Server: corvane-standin\r\n";
        if (!response.contentType.isEmpty())
            out += "Content-Type: " + response.contentType + "\r\n";
        out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        if (!contentRange.isEmpty())
            out += "Content-Range: " + contentRange + "\r\n";
        for (const auto &[name, value] : std::as_const(response.headers))
            out += name + ": " + value + "\r\n";
        out += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
        out += "\r\n";
        if (!headOnly)
            out += response.body;
        socket_->write(out);
        if (close) {
            closing_ = true;
            socket_->disconnectFromHost();
        }
    }

    void refuse(int status, const QByteArray &explanation)
    {
        const HttpResponse response = errorPage(status, explanation);
        closing_ = true;
        buffer_.clear();
        idle_.stop();
        answer(response, HttpRequest(), false, true);
    }

    QTcpSocket *socket_;
    const HttpServer::Handler &handler_;
    QByteArray buffer_;
    QTimer idle_;
    bool closing_ = false;
};

} // namespace

HttpServer::HttpServer(Handler handler, QObject *parent)
    : QObject(parent)
    , handler_(std::move(handler))
{
}

bool HttpServer::listen(const QHostAddress &address, quint16 port)
{
    auto *server = new QTcpServer(this);
    if (!server->listen(address, port)) {
        error_ = server->errorString();
        delete server;
        return false;
    }
    connect(server, &QTcpServer::newConnection, this, [this, server] { accept(server); });
    servers_ << server;
    return true;
}

QStringList HttpServer::addresses() const
{
    QStringList list;
    for (const QTcpServer *server : servers_) {
        const QHostAddress address = server->serverAddress();
        const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? u'[' + address.toString() + u']'
                                 : address.toString();
        list << host + u':' + QString::number(server->serverPort());
    }
    return list;
}

void HttpServer::accept(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection())
        new HttpConnection(socket, handler_);
}

} // namespace standin
