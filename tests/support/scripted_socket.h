#pragma once

#include "socket.h"

#include <QByteArrayList>
#include <QStringList>

// A socket whose events the test raises by hand. It keeps the socket's
// promise: events of a connection come only while it is open.
class ScriptedSocket final : public corvane::Socket {
    Q_OBJECT

public:
    enum class State { Closed, Connecting, Connected };

    using corvane::Socket::Socket;

    void Close() override
    {
        calls << QStringLiteral("Close");
        state = State::Closed;
        incoming.clear();
    }
    void Connect(const QString &RemoteHost, quint16 RemotePort) override
    {
        calls << QStringLiteral("Connect %1 %2").arg(RemoteHost).arg(RemotePort);
        state = State::Connecting;
        incoming.clear();
    }
    void SendData(const QString &text) override
    {
        calls << QStringLiteral("SendData");
        if (state == State::Connected)
            sent << text.toLatin1();
    }
    QByteArray GetData(qint64 bytesTotal) override
    {
        const QByteArray taken = incoming.left(bytesTotal);
        incoming.remove(0, taken.size());
        return taken;
    }

    // The events; each returns false, raising nothing, when the state of the
    // connection rules it out.
    bool raiseConnect()
    {
        if (state != State::Connecting)
            return false;
        state = State::Connected;
        emit ConnectEvent();
        return true;
    }
    bool raiseData(const QByteArray &data)
    {
        if (state != State::Connected)
            return false;
        incoming += data;
        emit DataArrivalEvent(incoming.size());
        return true;
    }
    bool raisePeerClose()
    {
        if (state != State::Connected)
            return false;
        emit CloseEvent();
        return true;
    }
    bool raiseError(int number, const QString &description)
    {
        if (state == State::Closed)
            return false;
        emit ErrorEvent(number, description);
        return true;
    }

    State state = State::Closed;
    QStringList calls;
    // What reached the wire, one entry a SendData call.
    QByteArrayList sent;
    QByteArray incoming;
};
