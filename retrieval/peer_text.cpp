#include "peer_text.h"

#include "wire_text.h"

namespace corvane {

QString PeerText(QByteArrayView bytes)
{
    QString text = TextFromWire(bytes.first(std::min(bytes.size(), kShownPeerText)));
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = QChar::ReplacementCharacter;
    }
    if (bytes.size() > kShownPeerText)
        text += QStringLiteral("...");
    return text;
}

} // namespace corvane
