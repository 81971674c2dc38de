#pragma once

class QUrl;

// The few things the window asks of the operating system. On Windows they
// are the native calls of platform_win; elsewhere their portable equivalents.
namespace corvane::platform {

// Asks the system to show no fault dialog for this process from now on.
void SuppressFaultDialog();

// Hands an http link to the system's default handler, maximized where the
// system supports it.
void OpenLinkMaximized(const QUrl &link);

} // namespace corvane::platform
