#pragma once

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>

// The few things the window asks of the operating system. On Windows they
// are the native calls of platform_win; elsewhere their portable equivalents.
namespace corvane::platform {

inline constexpr QLatin1StringView kLinkTooLongMessage{
    "The download link is %1 characters long; this system opens links of up to %2."};
inline constexpr QLatin1StringView kLinkNotOpenedMessage{
    "The system could not open the download link."};
inline constexpr QLatin1StringView kLinkNotOpenedBecauseMessage{
    "The system could not open the download link: %1."};

// Asks the system to show no fault dialog for this process from now on.
void SuppressFaultDialog();

// Hands an http link, as its bytes, to the system's default handler,
// maximized where the system supports it. A link longer than the system can
// take is never handed over. Empty when the handler took it, else what to
// tell the user.
QString OpenLinkMaximized(const QByteArray &link);

} // namespace corvane::platform
