#include "platform.h"

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
        return QStringLiteral("the system is out of memory");
    case SE_ERR_FNF:
    case SE_ERR_PNF:
        return QStringLiteral("the program set to open web links was not found");
    case SE_ERR_ACCESSDENIED:
        return QStringLiteral("access was denied");
    case SE_ERR_ASSOCINCOMPLETE:
    case SE_ERR_NOASSOC:
        return QStringLiteral("no program is set to open web links");
    case ERROR_BAD_FORMAT:
        return QStringLiteral("the program set to open web links is not a valid program");
    case SE_ERR_DDETIMEOUT:
    case SE_ERR_DDEFAIL:
    case SE_ERR_DDEBUSY:
        return QStringLiteral("the program set to open web links did not answer");
    case SE_ERR_SHARE:
        return QStringLiteral("a file it needs is in use");
    case SE_ERR_DLLNOTFOUND:
        return QStringLiteral("a library it needs is missing");
    default:
        return QStringLiteral("error %1").arg(result);
    }
}

QString openNatively(const QByteArray &link)
{
    // Qt's own opener shows the browser normal-sized; the shell is asked
    // directly for a maximized window, with the link's ASCII bytes.
    const long long result = win::OpenLinkMaximized(link.constData());
    return result > 32 ? QString()
                       : QString(kLinkNotOpenedBecauseMessage).arg(shellFailure(result));
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

void SuppressFaultDialog()
{
    win::SuppressFaultDialog();
}

#else

void SuppressFaultDialog()
{
    // No system fault dialog exists to suppress: a crashing process ends,
    // and desktop crash reporters are opt-in per program.
}

#endif

QString OpenLinkMaximized(const QByteArray &link)
{
    if (link.size() > kLongestLink)
        return QString(kLinkTooLongMessage).arg(link.size()).arg(kLongestLink);
    return openNatively(link);
}

} // namespace corvane::platform
