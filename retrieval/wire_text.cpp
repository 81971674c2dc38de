#include "wire_text.h"

namespace corvane {

QByteArray TextToWire(QStringView text)
{
    return text.toLatin1();
}

QString TextFromWire(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes);
}

} // namespace corvane
