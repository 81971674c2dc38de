#include "tcp_socket.h"

#include "messages.h"
#include "wire_text.h"

#include <QTcpSocket>

#include <utility>

namespace corvane {

namespace {

// Qt stops reading from the network when this much is unread, so a fast peer
// slows down instead of filling memory.
constexpr qint64 kReadBufferSize = 64 * 1024;
constexpr int kTimedOutNumber = QAbstractSocket::SocketTimeoutError;

} // namespace

TcpSocket::TcpSocket(QObject *parent)
    : Socket(parent)
{
    connectTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this, &TcpSocket::onConnectTimeout);
}

TcpSocket::~TcpSocket()
{
    release();
}

void TcpSocket::Close()
{
    ++generation_;
    release();
}

void TcpSocket::Connect(const QString &RemoteHost, quint16 RemotePort)
{
    Close();
    connection_ = new QTcpSocket(this);
    connection_->setReadBufferSize(kReadBufferSize);
    connect(connection_, &QTcpSocket::connected, this, &TcpSocket::onConnected);
    connect(connection_, &QTcpSocket::readyRead, this, &TcpSocket::onReadyRead);
    connect(connection_, &QTcpSocket::errorOccurred, this, &TcpSocket::onErrorOccurred);
    connect(connection_, &QTcpSocket::disconnected, this, &TcpSocket::onDisconnected);
    connectTimer_.start(connectTimeout_);

    // QTcpSocket may report an IP literal's outcome before connectToHost()
    // returns; such reports are held back until this call has returned.
    insideConnect_ = true;
    connection_->connectToHost(RemoteHost, RemotePort);
    insideConnect_ = false;
}

void TcpSocket::SendData(const QString &text)
{
    if (connection_ && connection_->state() == QAbstractSocket::ConnectedState)
        connection_->write(TextToWire(text));
}

QByteArray TcpSocket::GetData(qint64 bytesTotal)
{
    if (!connection_ || bytesTotal <= 0)
        return QByteArray();
    return connection_->read(bytesTotal);
}

template <typename Event>
void TcpSocket::raise(Event event)
{
    if (!insideConnect_) {
        event();
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, event, generation = generation_] {
            if (generation == generation_)
                event();
        },
        Qt::QueuedConnection);
}

void TcpSocket::onConnected()
{
    connectTimer_.stop();
    raise([this] { emit ConnectEvent(); });
}

void TcpSocket::onReadyRead()
{
    if (const qint64 ready = connection_->bytesAvailable(); ready > 0)
        emit DataArrivalEvent(ready);
}

void TcpSocket::onErrorOccurred(QAbstractSocket::SocketError error)
{
    // A peer that closes is the normal end of a reply: disconnected() follows,
    // with its data still readable.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    const QString description = connection_->errorString();
    release();
    raise([this, error, description] { emit ErrorEvent(error, description); });
}

void TcpSocket::onDisconnected()
{
    // Bytes not taken yet are handed over before the close is reported; a
    // handler that takes nothing, or closes the socket, ends this.
    const quint64 generation = generation_;
    for (qint64 ready = connection_->bytesAvailable(); ready > 0;) {
        emit DataArrivalEvent(ready);
        if (generation != generation_ || !connection_)
            return;
        const qint64 left = connection_->bytesAvailable();
        if (left >= ready)
            break;
        ready = left;
    }
    release();
    emit CloseEvent();
}

void TcpSocket::onConnectTimeout()
{
    release();
    emit ErrorEvent(kTimedOutNumber, kConnectTimedOutMessage);
}

void TcpSocket::release()
{
    connectTimer_.stop();
    if (!connection_)
        return;
    QTcpSocket *connection = std::exchange(connection_, nullptr);
    connection->disconnect(this);
    connection->abort();
    connection->deleteLater();
}

} // namespace corvane
