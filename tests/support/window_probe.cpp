// Loaded into the real program with LD_PRELOAD, it watches and drives the
// window from inside, as an accessibility tool would, so that the program
// itself needs no test hooks. It reads commands from its standard input, one
// a line, and writes what it saw to its standard output:
//   shown TITLE, focus NAME     once the window is on the screen
//   download LINK  ->  pressed  the link put into the text box, Download clicked
//   close  ->  closed AT, open sockets N
//                               the window closed; AT is the monotonic clock's
//                               milliseconds, N the connections left open
//   destroyed                   the window object is gone
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>
#include <QWindow>

#include <unistd.h>

namespace {

void report(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes.constData() + done,
                                        static_cast<size_t>(bytes.size() - done));
        if (written <= 0)
            return;
        done += written;
    }
}

class Probe final : public QObject {
public:
    Probe()
        : QObject(qApp)
    {
        connect(&finder_, &QTimer::timeout, this, &Probe::findWindow);
        finder_.start(10);
    }

private:
    void findWindow()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QLatin1String("Corvane_Downloader") && widget->isVisible()
                && widget->windowHandle() && widget->windowHandle()->isExposed()) {
                finder_.stop();
                window_ = widget;
                connect(widget, &QObject::destroyed, this,
                        [] { report(QStringLiteral("destroyed")); });
                const QWidget *focus = QApplication::focusWidget();
                report(QStringLiteral("shown %1, focus %2")
                           .arg(widget->windowTitle(), focus ? focus->objectName() : QString()));
                commands_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
                connect(commands_, &QSocketNotifier::activated, this, &Probe::readCommands);
                return;
            }
        }
    }

    void readCommands()
    {
        char chunk[4096];
        const ssize_t size = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (size <= 0) {
            commands_->setEnabled(false);
            return;
        }
        pending_.append(chunk, size);
        for (qsizetype end; (end = pending_.indexOf('\n')) >= 0;) {
            const QString line = QString::fromUtf8(pending_.left(end));
            pending_.remove(0, end + 1);
            run(line);
        }
    }

    void run(const QString &line)
    {
        if (!window_)
            return;
        if (line.startsWith(QLatin1String("download "))) {
            window_->findChild<QLineEdit *>(QStringLiteral("txtRequest"))->setText(line.sliced(9));
            report(QStringLiteral("pressed"));
            window_->findChild<QPushButton *>(QStringLiteral("Command1"))->click();
        } else if (line == QLatin1String("close")) {
            QElapsedTimer now;
            now.start();
            const qint64 at = now.msecsSinceReference();
            window_->close();
            int open = 0;
            for (const QTcpSocket *socket : window_->findChildren<QTcpSocket *>())
                open += socket->state() != QAbstractSocket::UnconnectedState ? 1 : 0;
            report(QStringLiteral("closed %1, open sockets %2").arg(at).arg(open));
        }
    }

    QTimer finder_;
    QPointer<QWidget> window_;
    QSocketNotifier *commands_ = nullptr;
    QByteArray pending_;
};

void startProbe()
{
    // Runs while QApplication is being built; the probe starts with its loop.
    QTimer::singleShot(0, qApp, [] { new Probe; });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startProbe)
