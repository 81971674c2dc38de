#pragma once

#include <QByteArrayView>
#include <QString>

namespace corvane {

// A text that the peer sent (a status phrase, a redirect target, a coding's
// name), made fit to show in a message: read as the wire's text, cut to
// kShownPeerText characters with "..." after it, and every control character
// replaced with U+FFFD. Messages that hold it are shown as plain text.
inline constexpr qsizetype kShownPeerText = 200;
QString PeerText(QByteArrayView bytes);

} // namespace corvane
