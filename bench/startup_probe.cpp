// Prints how long after the launch the first window was painted, in
// milliseconds, then quits. The launch time comes from CORVANE_PROBE_T0
// (nanoseconds of CLOCK_REALTIME, taken just before exec). Built twice: with
// the program's window, and as the floor, a window with one label.
#include <QApplication>
#include <QLabel>
#include <QTimer>

#ifdef PROBE_PROGRAM_WINDOW
#include "main_window.h"
#endif

#include <cstdio>
#include <ctime>

namespace {

class FirstPaint : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            const double launched = qEnvironmentVariable("CORVANE_PROBE_T0").toDouble();
            const double ms = (double(now.tv_sec) * 1e9 + double(now.tv_nsec) - launched) / 1e6;
            std::printf("%.2f\n", ms);
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool seen_ = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    FirstPaint firstPaint;
    app.installEventFilter(&firstPaint);
#ifdef PROBE_PROGRAM_WINDOW
    corvane::Corvane_Downloader window;
#else
    QLabel window(QStringLiteral("Corvane Downloader"));
#endif
    window.show();
    return QApplication::exec();
}
