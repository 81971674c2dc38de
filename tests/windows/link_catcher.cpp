// Stands in for the web browser as the system's handler of http links in the
// end-to-end run under Wine: the shell starts it with the link, as it would
// start the browser, and it appends to the file named by
// CORVANE_LINK_CATCHER_LOG one line "show=N<TAB>LINK", N being the show
// command the shell passed on (3 is SW_SHOWMAXIMIZED), then ends.
#include <cstdio>
#include <cstdlib>
#include <windows.h>

int main(int argc, char *argv[])
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;

    const char *logName = std::getenv("CORVANE_LINK_CATCHER_LOG");
    if (!logName)
        return 2;
    std::FILE *log = std::fopen(logName, "ab");
    if (!log)
        return 2;
    std::fprintf(log, "show=%d\t", show);
    for (int i = 1; i < argc; ++i)
        std::fprintf(log, i > 1 ? " %s" : "%s", argv[i]);
    std::fprintf(log, "\n");
    std::fclose(log);
    return 0;
}
