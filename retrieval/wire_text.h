#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace corvane {

// Text and the bytes that stand for it on the wire and towards the shell: one
// byte per character, both ways. On Windows through the ANSI code page when
// it is a single-byte one, else (UTF-8, double-byte) and elsewhere Latin-1.
QByteArray TextToWire(QStringView text);
QString TextFromWire(QByteArrayView bytes);

} // namespace corvane
