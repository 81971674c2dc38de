#pragma once

#include "http_server.h"
#include "request_reply.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>

namespace standin {

// One client connection, on the descriptor the listener accepted: the I/O
// of its requests and answers. It parses one request at a time and reads
// nothing further until that request's answer is sent; the answer's head and
// body go out from a block buffer shared by all connections, so a connection
// holds only the part of its answer the socket has not taken yet: its head
// and small body, or its place in the file.
//
// Qt's own socket class is not used for the connection because it closes the
// descriptor as soon as it reads the end of the client's data, dropping the
// answer not yet sent; a client that half-closes after its request must
// still get it.
class HttpConnection final : public QObject {
    Q_OBJECT

public:
    HttpConnection(int descriptor, const HttpServer::Handler &handler,
                   const ConnectionTimeouts &timeouts, QObject *parent);
    ~HttpConnection() override;

signals:
    // The descriptor is closed; the connection may be deleted.
    void closed();

private:
    enum class Phase {
        Reading,   // waiting for (the rest of) a request
        Writing,   // sending an answer; nothing is read
        Lingering, // the answer said close: reading what the client still sends
        Closed,
    };

    void readable();
    void writable();
    void timedOut();
    void feed(const char *data, qsizetype length);
    void continueReading();
    void endOfInput();
    void refuse(int status, const QByteArray &explanation);
    void answer(HttpResponse response, const HttpRequest &request);
    bool flush();
    void finishAnswer();
    void closeGracefully();
    void closeNow();

    int descriptor_;
    const HttpServer::Handler &handler_;
    const ConnectionTimeouts timeouts_;
    QHostAddress localAddress_;
    quint16 localPort_ = 0;
    QSocketNotifier readNotifier_;
    QSocketNotifier writeNotifier_;
    QTimer timer_;
    RequestParser parser_;
    Phase phase_ = Phase::Reading;
    bool endOfInput_ = false;
    bool closeAfterAnswer_ = false;
    // Received and not parsed yet: what follows a request the answer of which
    // is still being sent.
    QByteArray pending_;

    // The answer being sent: out_ from outSent_ on, then fileRemaining_ bytes
    // of file_ from fileOffset_.
    QByteArray out_;
    qsizetype outSent_ = 0;
    std::shared_ptr<QFile> file_;
    qint64 fileOffset_ = 0;
    qint64 fileRemaining_ = 0;
    qint64 discarded_ = 0;
};

} // namespace standin
