#pragma once

#include <QString>

namespace corvane {

// What the window keeps for its whole run about the current download.
struct DownloadState {
    QString VideoId;
    // The last composed download link.
    QString DownloadLink;
};

} // namespace corvane
