#include "command_line.h"
#include "main_window.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

// Qt waits at exit for the host-name lookups it has started, and a lookup
// cannot be cut short: a name server that never answers would keep the
// process alive long after its window. Once the window has gone, with its
// unload and terminate handlers run and the socket closed, the rest of the
// exit gets this long before the process ends with the loop's status.
constexpr std::chrono::milliseconds kExitGrace{1000};

void endWithin(std::chrono::milliseconds grace, int status)
{
    std::thread([grace, status] {
        std::this_thread::sleep_for(grace);
        std::fflush(nullptr);
        std::_Exit(status);
    }).detach();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    // --help and --version need no display: answered before Qt looks for one.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (const auto status = corvane::answerCommandLine(arguments, corvane::ArgumentsRead::BeforeQt))
        return *status;
    int status = 0;
    {
        QApplication app(argc, argv);
        if (const auto answered = corvane::answerCommandLine(QApplication::arguments(),
                                                             corvane::ArgumentsRead::AfterQt))
            return *answered;
        {
            corvane::Corvane_Downloader window;
            window.show();
            status = QApplication::exec();
        }
        endWithin(kExitGrace, status);
    }
    return status;
}
