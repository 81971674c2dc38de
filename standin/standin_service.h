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
        , loaded_(QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC))
    {
    }

    HttpResponse handle(const HttpRequest &request) const;

private:
    HttpResponse download(const HttpRequest &request) const;

    const Catalog &catalog_;
    // When the catalog was read and its tokens made: the info's last change.
    QDateTime loaded_;
};

} // namespace standin
