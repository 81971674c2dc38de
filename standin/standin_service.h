#pragma once

#include "catalog.h"
#include "http_server.h"

namespace standin {

// The two endpoints the program meets: the video site's info endpoint and
// the download-link service.
class StandinService {
public:
    explicit StandinService(const Catalog &catalog)
        : catalog_(catalog)
    {
    }

    HttpResponse handle(const HttpRequest &request) const;

    // The info endpoint's reply body for a video id.
    QByteArray videoInfo(QByteArrayView id) const;

private:
    HttpResponse download(const HttpRequest &request) const;

    const Catalog &catalog_;
};

// A file name for the title that every system takes as it is: no path
// separators, control characters or other characters Windows refuses, no
// trailing dot or space, no Windows device name.
QString safeFileName(const QString &title, const QString &suffix);

} // namespace standin
