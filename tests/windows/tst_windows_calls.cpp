// The program's native Windows calls and its version resource, checked in a
// Windows program of their own (built with mingw-w64, run under Wine here).
// Prints one line a check and "N passed, N failed". Each further argument
// names another executable whose version resource must read 1.0.0.3.
#include "plain_check.h"
#include "platform_win.h"
#include "style.h"

#include <commctrl.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using plain_check::check;

// What the start-up handed to InitCommonControlsEx.
struct ControlsCall {
    int calls = 0;
    DWORD size = 0, classes = 0;
    BOOL result = TRUE;
} controlsCall;

BOOL WINAPI recordInitCommonControlsEx(const INITCOMMONCONTROLSEX *controls)
{
    controlsCall.calls += 1;
    controlsCall.size = controls->dwSize;
    controlsCall.classes = controls->dwICC;
    return controlsCall.result;
}

// What the link opening handed to ShellExecuteA.
struct ShellCall {
    int calls = 0;
    HWND owner = reinterpret_cast<HWND>(1);
    std::string verb, file;
    bool parameters = true, directory = true;
    INT show = -1;
} shellCall;

HINSTANCE WINAPI recordShellExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                    LPCSTR directory, INT show)
{
    shellCall.calls += 1;
    shellCall.owner = owner;
    shellCall.verb = verb ? verb : "";
    shellCall.file = file ? file : "";
    shellCall.parameters = parameters != nullptr;
    shellCall.directory = directory != nullptr;
    shellCall.show = show;
    return reinterpret_cast<HINSTANCE>(42);
}

bool versionIs1003(const VS_FIXEDFILEINFO *info, bool product)
{
    const DWORD ms = product ? info->dwProductVersionMS : info->dwFileVersionMS;
    const DWORD ls = product ? info->dwProductVersionLS : info->dwFileVersionLS;
    return HIWORD(ms) == 1 && LOWORD(ms) == 0 && HIWORD(ls) == 0 && LOWORD(ls) == 3;
}

// The first string table's value of `name`, whatever its language.
std::string versionString(const std::vector<char> &block, const char *name)
{
    struct Translation {
        WORD language, codePage;
    } *translations = nullptr;
    UINT size = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                        reinterpret_cast<void **>(&translations), &size)
        || size < sizeof(Translation))
        return {};
    char path[64];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translations->language,
                  translations->codePage, name);
    char *value = nullptr;
    if (!VerQueryValueA(block.data(), path, reinterpret_cast<void **>(&value), &size))
        return {};
    return std::string(value);
}

// The version resource of an executable: fixed and string versions 1.0.0.3.
void checkVersion(const char *file, const char *name)
{
    DWORD handle = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(file, &handle));
    VS_FIXEDFILEINFO *info = nullptr;
    UINT infoSize = 0;
    const bool read
        = !block.empty() && GetFileVersionInfoA(file, 0, DWORD(block.size()), block.data())
          && VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&info), &infoSize);
    const std::string what = std::string(name) + " ";
    check(read, (what + "has a version resource").c_str());
    check(read && versionIs1003(info, false), (what + "has FILEVERSION 1,0,0,3").c_str());
    check(read && versionIs1003(info, true), (what + "has PRODUCTVERSION 1,0,0,3").c_str());
    check(read && versionString(block, "FileVersion") == "1.0.0.3",
          (what + "has FileVersion \"1.0.0.3\"").c_str());
    check(read && versionString(block, "ProductVersion") == "1.0.0.3",
          (what + "has ProductVersion \"1.0.0.3\"").c_str());
}

} // namespace

int main(int argc, char *argv[])
{
    check(corvane::style::InitStyles(), "InitStyles finds InitCommonControlsEx in comctl32");
    // The record InitStyles hands over, and its result whatever the call says.
    for (const BOOL result : {TRUE, FALSE}) {
        controlsCall = ControlsCall{};
        controlsCall.result = result;
        const bool started = corvane::win::InitCommonControls(recordInitCommonControlsEx);
        check(controlsCall.calls == 1, "the start-up calls InitCommonControlsEx once");
        check(controlsCall.size == 8, "with dwSize 8");
        check(controlsCall.classes == ICC_USEREX_CLASSES, "with dwICC ICC_USEREX_CLASSES");
        check(started, result ? "and returns True when the call succeeds"
                              : "and returns True when the call returns FALSE");
    }

    corvane::win::SuppressFaultDialog();
    check((GetErrorMode() & SEM_NOGPFAULTERRORBOX) != 0,
          "after the terminate handler the error mode holds SEM_NOGPFAULTERRORBOX");

    const char link[] = "http://localhost/download/index.php?video_id=abc&id=AB%3D&n=Caf%E9";
    corvane::win::OpenLinkMaximized(link, recordShellExecute);
    check(shellCall.calls == 1, "the link opening calls ShellExecuteA once");
    check(shellCall.owner == nullptr, "with no owner window");
    check(shellCall.verb == "open", "with the verb \"open\"");
    check(shellCall.file == link, "with the link's bytes as the file");
    check(!shellCall.parameters && !shellCall.directory, "with no parameters and no directory");
    check(shellCall.show == SW_SHOWMAXIMIZED, "with SW_SHOWMAXIMIZED");

    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    checkVersion(self, "this executable");
    check(LoadIconA(GetModuleHandleA(nullptr), "IDI_ICON1") != nullptr, "it carries the icon");
    for (int i = 1; i < argc; ++i)
        checkVersion(argv[i], argv[i]);

    return plain_check::finish();
}
