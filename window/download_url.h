#pragma once

#include <QByteArray>
#include <QString>

namespace corvane {

// The URL that opens a composed download link, as the bytes that the opener
// and the clipboard get. The link's characters are
// bytes (Latin-1): a byte that may not stand in a URL as it is goes as its
// own %XX escape (0xE9 as "%E9", never re-encoded as UTF-8), escapes already
// in the link are kept, and the scheme and host are always the download-link
// service's. Empty when the link is not one of ours or no valid URL.
QByteArray DownloadUrl(const QString &DownloadLink);

} // namespace corvane
