#pragma once

#include <QString>

namespace corvane {

// What the window keeps for its whole run about the current download.
struct DownloadState {
    // True from the socket's report of the connection until the next command
    // starts, the peer closes, or the reply brings the token or the failure.
    bool Connected = false;
    // The typed link; then, when it holds "://", the part behind it.
    QString RequestLink;
    QString VideoId;
    // The last composed download link.
    QString DownloadLink;
};

} // namespace corvane
