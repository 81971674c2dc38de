#pragma once

#include "download_state.h"
#include "reply_scan.h"

#include <QObject>
#include <QString>

#include <optional>

namespace corvane {

class Socket;
class WindowOperations;

inline constexpr QLatin1StringView kWaitingCaption{"Getting the download link.. Please wait.."};
inline constexpr QLatin1StringView kLinkFoundCaption{"Download link:"};
inline constexpr QLatin1StringView kLinkCaption{"Click Here To Download The Video"};
inline constexpr QLatin1StringView kInvalidVideoMessage{
    "Invalid Youtube video, Please check and try again."};

// The Download command and the socket's events. It works on the window's
// DownloadState, the window's socket and the window itself through its
// operations; all three outlive it.
class DownloadCommand : public QObject {
    Q_OBJECT

public:
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

private:
    DownloadState &state_;
    Socket &socket_;
    WindowOperations &window_;
    // The request of the command that waits for its connection.
    std::optional<QString> pendingRequest_;
    // The reply received so far on the current connection.
    ReplyScanner scanner_;
};

} // namespace corvane
