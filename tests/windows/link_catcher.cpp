// Stands in for the web browser as the system's handler of http links under
// Wine: the shell starts it with the link, and it appends one line
// "show=N<TAB>LINK" to the file CORVANE_LINK_CATCHER_LOG names, N being the
// show command the shell passed on (3 is SW_SHOWMAXIMIZED).
#include <cstdio>
#include <cstdlib>
#include <windows.h>

int main(int argc, char *argv[])
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    const char *logName = std::getenv("CORVANE_LINK_CATCHER_LOG");
    std::FILE *log = logName ? std::fopen(logName, "ab") : nullptr;
    if (!log)
        return 2;
    std::fprintf(log, "show=%d\t",
                 (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1);
    for (int i = 1; i < argc; ++i)
        std::fprintf(log, i > 1 ? " %s" : "%s", argv[i]);
    std::fprintf(log, "\n");
    return std::fclose(log) == 0 ? 0 : 2;
}
