#pragma once

// The program's native Windows calls, with no Qt in them, so that they build
// and are tested on their own (see tests/windows).
#ifdef _WIN32

#include <windows.h>

namespace corvane::win {

using ShellExecuteFunction = HINSTANCE(WINAPI *)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);

// InitCommonControlsEx with dwSize 8 and ICC_USEREX_CLASSES, comctl32 loaded
// by name; false when the library or its entry point is missing.
bool InitCommonControls();

// SetErrorMode(SEM_NOGPFAULTERRORBOX): no fault dialog for this process.
void SuppressFaultDialog();

// ShellExecuteA with no owner, "open", the link's bytes, no parameters, no
// directory and SW_SHOWMAXIMIZED; the result is not looked at.
void OpenLinkMaximized(const char *link, ShellExecuteFunction shellExecute = ShellExecuteA);

} // namespace corvane::win

#endif
