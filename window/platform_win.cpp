#include "platform_win.h"

#ifdef _WIN32

#include <shellapi.h>

namespace corvane::win {

bool InitCommonControls(InitCommonControlsExFunction initCommonControlsEx)
{
    if (!initCommonControlsEx) {
        // Loaded by name so that a missing library or entry point yields
        // false instead of a failure to start.
        const HMODULE comctl = LoadLibraryW(L"comctl32.dll");
        if (!comctl)
            return false;
        initCommonControlsEx = reinterpret_cast<InitCommonControlsExFunction>(
            reinterpret_cast<void *>(GetProcAddress(comctl, "InitCommonControlsEx")));
        if (!initCommonControlsEx)
            return false;
    }
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls; // 8
    controls.dwICC = ICC_USEREX_CLASSES;
    initCommonControlsEx(&controls);
    return true;
}

void SuppressFaultDialog()
{
    SetErrorMode(SEM_NOGPFAULTERRORBOX);
}

long long OpenLinkMaximized(const char *link, ShellExecuteFunction shellExecute)
{
    return reinterpret_cast<INT_PTR>(
        shellExecute(nullptr, "open", link, nullptr, nullptr, SW_SHOWMAXIMIZED));
}

} // namespace corvane::win

#endif
