#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace corvane {

// One outgoing TCP connection at a time, driven by calls and answered by
// events on the caller's thread. Text goes out one byte per character
// (TextToWire); what comes in is handed over as the bytes that came.
class Socket : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Drops the current connection or connection attempt, if any. Raises no
    // event itself, and no event of what it dropped follows; on a closed
    // socket it does nothing.
    virtual void Close() = 0;
    // Starts an outgoing connection from a port that the system chooses and
    // returns at once; later exactly one of ConnectEvent or ErrorEvent reports
    // the outcome, unless Close() comes first.
    virtual void Connect(const QString &RemoteHost, quint16 RemotePort) = 0;
    // Sends the text's characters in order, one byte each (TextToWire). Does
    // nothing unless connected.
    virtual void SendData(const QString &text) = 0;
    // Takes at most bytesTotal received bytes out of the socket. They become
    // text only once the reply's framing and compression are undone.
    virtual QByteArray GetData(qint64 bytesTotal) = 0;

signals:
    void ConnectEvent();
    void DataArrivalEvent(qint64 bytesTotal);
    // The peer closed the connection. Its last bytes arrive before this.
    void CloseEvent();
    void ErrorEvent(int Number, const QString &Description);
};

} // namespace corvane
