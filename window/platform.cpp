#include "platform.h"

#include "messages.h"

#ifdef Q_OS_WIN
#include "platform_win.h"
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <QDesktopServices>
#include <QProcess>
#include <QUrl>
#endif

namespace corvane::platform {

namespace {

#ifdef Q_OS_WIN

constexpr qsizetype kLongestLink = win::kLongestLink;

// Why ShellExecuteA failed, from what it returned.
QString shellFailure(long long result)
{
    switch (result) {
    case 0:
    case SE_ERR_OOM:
        return kShellOutOfMemory;
    case SE_ERR_FNF:
    case SE_ERR_PNF:
        return kShellBrowserNotFound;
    case SE_ERR_ACCESSDENIED:
        return kShellAccessDenied;
    case SE_ERR_ASSOCINCOMPLETE:
    case SE_ERR_NOASSOC:
        return kShellNoBrowser;
    case ERROR_BAD_FORMAT:
        return kShellBrowserNotAProgram;
    case SE_ERR_DDETIMEOUT:
    case SE_ERR_DDEFAIL:
    case SE_ERR_DDEBUSY:
        return kShellBrowserSilent;
    case SE_ERR_SHARE:
        return kShellFileInUse;
    case SE_ERR_DLLNOTFOUND:
        return kShellLibraryMissing;
    default:
        return ShellErrorNumber(result);
    }
}

QString openNatively(const QByteArray &link)
{
    // Qt's own opener shows the browser normal-sized; the shell is asked
    // directly for a maximized window, with the link's ASCII bytes.
    const long long result = win::OpenLinkMaximized(link.constData());
    return result > 32 ? QString() : LinkNotOpenedMessage(shellFailure(result));
}

#else

// One argument of a program started on Linux, its closing NUL included, is
// at most 128 KiB (MAX_ARG_STRLEN); a longer one cannot start the opener.
constexpr qsizetype kLongestLink = 128 * 1024 - 1;

QString openNatively(const QByteArray &link)
{
    // The desktop's default handler (xdg-open on Linux); how big the
    // browser's window is, is the browser's and the window manager's choice.
    // Qt's opener passes on the link as QUrl encodes it, which decodes
    // escapes of unreserved characters and changes the case of hex digits:
    // a link it would change goes to xdg-open as it is.
    const QUrl url = QUrl::fromEncoded(link, QUrl::StrictMode);
    const bool opened
        = url.toEncoded() == link
              ? QDesktopServices::openUrl(url)
              : QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromLatin1(link)});
    return opened ? QString() : QString(kLinkNotOpenedMessage);
}

#endif

} // namespace

#ifdef Q_OS_WIN

bool StartCommonControls()
{
    return win::InitCommonControls();
}

void SuppressFaultDialog()
{
    win::SuppressFaultDialog();
}

#else

bool StartCommonControls()
{
    // QApplication sets up the widget styles itself; there is nothing to start.
    return true;
}

void SuppressFaultDialog()
{
    // No system fault dialog exists to suppress: a crashing process ends,
    // and desktop crash reporters are opt-in per program.
}

#endif

QString OpenLinkMaximized(const QByteArray &link)
{
    if (link.size() > kLongestLink)
        return LinkTooLongMessage(link.size(), kLongestLink);
    return openNatively(link);
}

} // namespace corvane::platform
