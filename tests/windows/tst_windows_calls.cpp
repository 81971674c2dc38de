// The program's native Windows calls and its version resource, checked in a
// Windows program of their own (built with mingw-w64, run under Wine here).
// Prints one line a check and "N passed, N failed". Each further argument
// names another executable whose version resource must read 1.0.0.3.
#include "plain_check.h"
#include "platform_win.h"

#include <commctrl.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using plain_check::check;

int controlsCalls = 0;
INITCOMMONCONTROLSEX controlsSeen{};
BOOL controlsResult = TRUE;

BOOL WINAPI recordInitCommonControlsEx(const INITCOMMONCONTROLSEX *controls)
{
    controlsCalls += 1;
    controlsSeen = *controls;
    return controlsResult;
}

int shellCalls = 0;
std::string shellSeen; // owner, verb, file, parameters, directory and show in one line

HINSTANCE WINAPI recordShellExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                    LPCSTR directory, INT show)
{
    shellCalls += 1;
    char line[512];
    std::snprintf(line, sizeof line, "%s|%s|%s|%s|%s|%d", owner ? "owner" : "-", verb ? verb : "-",
                  file ? file : "-", parameters ? parameters : "-", directory ? directory : "-",
                  show);
    shellSeen = line;
    return reinterpret_cast<HINSTANCE>(42);
}

// Whether an executable's fixed file and product versions read 1.0.0.3.
bool versionIs1003(const char *file)
{
    DWORD handle = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(file, &handle));
    VS_FIXEDFILEINFO *info = nullptr;
    UINT size = 0;
    return !block.empty() && GetFileVersionInfoA(file, 0, DWORD(block.size()), block.data())
           && VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&info), &size)
           && info->dwFileVersionMS == MAKELONG(0, 1) && info->dwFileVersionLS == MAKELONG(3, 0)
           && info->dwProductVersionMS == MAKELONG(0, 1)
           && info->dwProductVersionLS == MAKELONG(3, 0);
}

} // namespace

int main(int argc, char *argv[])
{
    check(corvane::win::InitCommonControls(),
          "the common controls start: InitCommonControlsEx found in comctl32");
    for (const BOOL result : {TRUE, FALSE}) {
        controlsCalls = 0;
        controlsResult = result;
        const bool started = corvane::win::InitCommonControls(recordInitCommonControlsEx);
        check(controlsCalls == 1 && controlsSeen.dwSize == 8
                  && controlsSeen.dwICC == ICC_USEREX_CLASSES && started,
              result ? "InitCommonControlsEx once, {8, ICC_USEREX_CLASSES}: True"
                     : "InitCommonControlsEx returning FALSE: still True");
    }

    corvane::win::SuppressFaultDialog();
    check((GetErrorMode() & SEM_NOGPFAULTERRORBOX) != 0,
          "after the terminate handler the error mode holds SEM_NOGPFAULTERRORBOX");

    const char link[] = "http://localhost/download/index.php?video_id=abc&id=AB%3D&n=Caf%E9";
    const long long returned = corvane::win::OpenLinkMaximized(link, recordShellExecute);
    check(returned == 42 && shellCalls == 1
              && shellSeen == std::string("-|open|") + link + "|-|-|3",
          ("ShellExecuteA once: no owner, \"open\", the link, no parameters or directory, "
           "SW_SHOWMAXIMIZED, and what it returns; it got "
           + shellSeen)
              .c_str());

    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    check(versionIs1003(self), "this executable's version resource reads 1.0.0.3");
    check(LoadIconA(GetModuleHandleA(nullptr), "IDI_ICON1") != nullptr, "it carries the icon");
    for (int i = 1; i < argc; ++i)
        check(versionIs1003(argv[i]),
              (std::string(argv[i]) + "'s version resource reads 1.0.0.3").c_str());
    return plain_check::finish();
}
