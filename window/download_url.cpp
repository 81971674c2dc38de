#include "download_url.h"

#include "constants.h"
#include "wire_text.h"

#include <QUrl>

namespace corvane {

namespace {

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Unreserved characters, sub-delimiters and what a path and query may hold.
bool standsAsItIs(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return QByteArrayView("-._~!$&'()*+,;=:@/?").contains(c);
}

} // namespace

QByteArray DownloadUrl(const QString &DownloadLink)
{
    const QString origin = QStringLiteral("http://") + kLinkServiceHost + u'/';
    if (!DownloadLink.startsWith(origin))
        return QByteArray();

    const QByteArray rest = TextToWire(QStringView(DownloadLink).sliced(origin.size()));
    QByteArray encoded = origin.toLatin1();
    encoded.reserve(encoded.size() + 3 * rest.size());
    for (qsizetype i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        const bool escape
            = c == '%' && i + 2 < rest.size() && isHexDigit(rest[i + 1]) && isHexDigit(rest[i + 2]);
        if (escape || standsAsItIs(c)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded
                += QByteArray::number(static_cast<uchar>(c), 16).rightJustified(2, '0').toUpper();
        }
    }
    // Checked as a URL, but kept as its bytes: QUrl would decode escapes of
    // unreserved characters and change the case of hex digits.
    return QUrl::fromEncoded(encoded, QUrl::StrictMode).isValid() ? encoded : QByteArray();
}

} // namespace corvane
