#pragma once

#include <QByteArray>
#include <QString>

// The few things the window asks of the operating system. On Windows they
// are the native calls of platform_win; elsewhere their portable equivalents.
namespace corvane::platform {

// Starts the common controls at program start; true when nothing failed.
bool StartCommonControls();

// Asks the system to show no fault dialog for this process from now on.
void SuppressFaultDialog();

// Hands an http link, as its bytes, to the system's default handler,
// maximized where the system supports it. A link longer than the system can
// take is never handed over. Empty when the handler took it, else what to
// tell the user.
QString OpenLinkMaximized(const QByteArray &link);

} // namespace corvane::platform
