#pragma once

// The program's native Windows calls, with no Qt in them, so that they build
// and are tested on their own (see tests/windows).
#ifdef _WIN32

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

namespace corvane::win {

using ShellExecuteFunction = HINSTANCE(WINAPI *)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
using InitCommonControlsExFunction = BOOL(WINAPI *)(const INITCOMMONCONTROLSEX *);

// InitCommonControlsEx with dwSize 8 and ICC_USEREX_CLASSES; without a
// function given, comctl32's, loaded by name. False when the library or its
// entry point is missing.
bool InitCommonControls(InitCommonControlsExFunction initCommonControlsEx = nullptr);

// SetErrorMode(SEM_NOGPFAULTERRORBOX): no fault dialog for this process.
void SuppressFaultDialog();

// The longest link the shell is documented to take: INTERNET_MAX_URL_LENGTH
// less its closing NUL.
inline constexpr long long kLongestLink = 2083;

// ShellExecuteA with no owner, "open", the link's bytes, no parameters, no
// directory and SW_SHOWMAXIMIZED; what it returns, as a number: 32 or less
// is a failure.
long long OpenLinkMaximized(const char *link, ShellExecuteFunction shellExecute = ShellExecuteA);

} // namespace corvane::win

#endif
