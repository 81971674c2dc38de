#include "platform.h"

#include <QUrl>

#ifdef Q_OS_WIN
#include "platform_win.h"
#else
#include <QDesktopServices>
#endif

namespace corvane::platform {

#ifdef Q_OS_WIN

void SuppressFaultDialog()
{
    win::SuppressFaultDialog();
}

void OpenLinkMaximized(const QUrl &link)
{
    // Qt's own opener shows the browser normal-sized; the shell is asked
    // directly for a maximized window, with the link's ASCII form.
    win::OpenLinkMaximized(link.toEncoded().constData());
}

#else

void SuppressFaultDialog()
{
    // No system fault dialog exists to suppress: a crashing process ends,
    // and desktop crash reporters are opt-in per program.
}

void OpenLinkMaximized(const QUrl &link)
{
    // The desktop's default handler (xdg-open on Linux); how big the
    // browser's window is, is the browser's and the window manager's choice.
    QDesktopServices::openUrl(link);
}

#endif

} // namespace corvane::platform
