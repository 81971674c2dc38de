#pragma once

#include "download_state.h"
#include "reply_reader.h"
#include "reply_scan.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

namespace corvane {

class Socket;
class WindowOperations;

// The Download command and the socket's events. It works on the window's
// DownloadState, the window's socket and the window itself through its
// operations; all three outlive it.
class DownloadCommand : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultReplyTimeout{30'000};

    DownloadCommand(DownloadState &state, Socket &socket, WindowOperations &window,
                    QObject *parent = nullptr);

    // The Download button: checks and parses the typed link, connects to the
    // link's host and sends the info request once the socket reports the
    // connection. A newer command abandons an older one still waiting.
    void Command1_Click();

    void Winsock_Connect();
    void Winsock_Close();
    void Winsock_Error(int Number, const QString &Description);
    void Winsock_DataArrival(qint64 bytesTotal);

    // Closes the socket for good, as the window does when it unloads: a
    // request still waiting and the reply's time-out go with it.
    void CloseSocket();

    // How long the video site may stay silent, once the request has gone out,
    // before the link is on offer.
    void setReplyTimeout(std::chrono::milliseconds timeout) { replyTimer_.setInterval(timeout); }

private:
    // Offers the link once it is whole, and reports a reply that fails or
    // ends without one.
    void settleReply();
    // Drops the connection and forgets the request that waits for it and the
    // reply's time-out.
    void abandonConnection();
    // Drops the connection, then shows the message (taken by value: the
    // reader that may hold it is reset first).
    void failReply(QString message);
    void onReplyTimeout();

    DownloadState &state_;
    Socket &socket_;
    WindowOperations &window_;
    // The request of the command that waits for its connection.
    std::optional<QString> pendingRequest_;
    // The reply on the current connection: read, then scanned.
    ReplyScanner scanner_;
    ReplyReader reader_;
    // A request has gone out and its reply is not settled yet.
    bool awaitingReply_ = false;
    QTimer replyTimer_;
};

} // namespace corvane
