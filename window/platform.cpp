#include "platform.h"

#include <QUrl>

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <commctrl.h>
#include <shellapi.h>
#else
#include <QDesktopServices>
#endif

namespace corvane::platform {

#ifdef Q_OS_WIN

bool InitCommonControls()
{
    // Loaded by name so that a missing library or entry point yields false
    // instead of a failure to start.
    const HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    if (!comctl)
        return false;
    using InitCommonControlsExFn = BOOL(WINAPI *)(const INITCOMMONCONTROLSEX *);
    const auto init = reinterpret_cast<InitCommonControlsExFn>(
        reinterpret_cast<void *>(GetProcAddress(comctl, "InitCommonControlsEx")));
    if (!init)
        return false;
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls; // 8
    controls.dwICC = ICC_USEREX_CLASSES;
    init(&controls);
    return true;
}

void SuppressFaultDialog()
{
    SetErrorMode(SEM_NOGPFAULTERRORBOX);
}

void OpenLinkMaximized(const QUrl &link)
{
    // Qt's own opener shows the browser normal-sized; the shell is asked
    // directly for a maximized window. The result is not looked at.
    const QByteArray file = link.toEncoded();
    ShellExecuteA(nullptr, "open", file.constData(), nullptr, nullptr, SW_SHOWMAXIMIZED);
}

#else

bool InitCommonControls()
{
    // QApplication sets up the widget styles itself; there is nothing to start.
    return true;
}

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
