// Loaded into the real program with LD_PRELOAD, it drives and watches the
// window from inside, so that the program needs no test hooks. Once the window
// shows, it puts CORVANE_PROBE_LINK, if set, into the text box and clicks
// Download; a line on standard input closes the window. It reports on standard
// output, a line each: "shown TITLE, focus NAME", "link on offer", "box TEXT"
// (an error box opened), "closed, open sockets N" and "destroyed".
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <unistd.h>

namespace {

void report(const QString &line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

QPointer<QWidget> window;

void start(QWidget *widget)
{
    window = widget;
    QObject::connect(widget, &QObject::destroyed, [] { report("destroyed"); });
    report("shown " + widget->windowTitle() + ", focus " + qApp->focusWidget()->objectName());
    if (const QString link = qEnvironmentVariable("CORVANE_PROBE_LINK"); !link.isEmpty()) {
        widget->findChild<QWidget *>("txtRequest")->setProperty("text", link);
        QMetaObject::invokeMethod(widget->findChild<QWidget *>("Command1"), "click");
    }
    auto *input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, qApp);
    QObject::connect(input, &QSocketNotifier::activated, [input] {
        input->setEnabled(false);
        window->close();
        int open = 0;
        for (const QTcpSocket *socket : window->findChildren<QTcpSocket *>())
            open += socket->state() != QAbstractSocket::UnconnectedState ? 1 : 0;
        report("closed, open sockets " + QString::number(open));
    });
}

// Every 10 ms: the window once it shows, the link label, an error box.
void look()
{
    static bool linkShown = false;
    static QPointer<QMessageBox> box;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (!window && widget->objectName() == u"Corvane_Downloader" && widget->windowHandle()
            && widget->windowHandle()->isExposed())
            start(widget);
    }
    if (window && !linkShown && window->findChild<QWidget *>("Label1")->isVisible()) {
        linkShown = true;
        report("link on offer");
    }
    auto *shown = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (shown && shown != box)
        report("box " + (box = shown)->text());
}

void startProbe()
{
    // QApplication is being built; the probe starts with its loop.
    QTimer::singleShot(0, qApp, [] {
        auto *timer = new QTimer(qApp);
        QObject::connect(timer, &QTimer::timeout, &look);
        timer->start(10);
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startProbe)
