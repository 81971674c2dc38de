#pragma once

class QUrl;

// The few things the window asks of the operating system. The Windows calls
// live in platform.cpp alone.
namespace corvane::platform {

// Starts the common controls' extended combo box classes; false when the
// library or its entry point is missing.
bool InitCommonControls();

// Asks the system to show no fault dialog for this process from now on.
void SuppressFaultDialog();

// Hands an http link to the system's default handler, maximized where the
// system supports it.
void OpenLinkMaximized(const QUrl &link);

} // namespace corvane::platform
