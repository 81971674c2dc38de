#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace corvane {

// Text and the bytes that stand for it on the wire and towards the shell: one
// byte per character, both ways, Latin-1.
QByteArray TextToWire(QStringView text);
QString TextFromWire(QByteArrayView bytes);

} // namespace corvane
