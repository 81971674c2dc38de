#pragma once

#include "main_window.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

// The real window, used as a person would, with keys and clicks. It notes
// what the person sees: each box as it opens (then answers it) and each link
// handed to the system's opener.
class WindowDriver final : public QObject {
    Q_OBJECT

public:
    WindowDriver()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
        connect(&boxTimer_, &QTimer::timeout, this, &WindowDriver::answerBox);
        boxTimer_.start(20);
        window.show();
    }
    ~WindowDriver() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }

    QLineEdit *box() { return window.findChild<QLineEdit *>(QStringLiteral("txtRequest")); }
    QPushButton *button() { return window.findChild<QPushButton *>(QStringLiteral("Command1")); }
    QLabel *label(const char *name) { return window.findChild<QLabel *>(QLatin1String(name)); }
    QString status() { return label("Label2")->text(); }
    bool linkShown() { return label("Label1")->isVisible(); }

    // Clicks into the text box, pastes the link with Ctrl+V and clicks Download.
    void download(const QString &link)
    {
        QTest::mouseClick(box(), Qt::LeftButton);
        QApplication::clipboard()->setText(link);
        QTest::keyClick(box(), Qt::Key_V, Qt::ControlModifier);
        QTest::mouseClick(button(), Qt::LeftButton);
    }

    // Waits until the download has settled: the link on offer when one is
    // expected, so many boxes seen, and none open.
    bool settled(bool offered, qsizetype boxCount)
    {
        const bool done = QTest::qWaitFor(
            [&] {
                return linkShown() == offered && boxes.size() >= boxCount
                       && !QApplication::activeModalWidget();
            },
            10000);
        QTest::qWait(100); // nothing more comes
        return done;
    }

    // Clicks the link label; what the system was asked to open, as its bytes.
    QByteArray clickLink()
    {
        QTest::mouseClick(label("Label1"), Qt::LeftButton);
        return opened.size() == 1 ? opened[0].toEncoded() : QByteArray();
    }

    corvane::Corvane_Downloader window;
    QList<QUrl> opened;
    // The text of each box; one that is not the error box (title "ERROR",
    // warning icon, one OK button, plain text) is marked.
    QStringList boxes;
    // Runs once for each box while it is open; the box waits for it.
    std::function<void()> whileBoxOpen;

public slots:
    void open(const QUrl &url) { opened << url; }

private:
    void answerBox()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        if (box->property("seen").toBool()) {
            if (box != held_)
                box->accept();
            return;
        }
        box->setProperty("seen", true);
        // Its text, which may hold the peer's words, is never read as markup.
        const bool errorBox = box->windowTitle() == u"ERROR" && box->icon() == QMessageBox::Warning
                              && box->standardButtons() == QMessageBox::Ok
                              && box->textFormat() == Qt::PlainText;
        boxes << (errorBox ? box->text() : "not the error box: " + box->text());
        if (whileBoxOpen) { // from a timer of its own: this one goes on answering
            held_ = box;
            QTimer::singleShot(0, this, [this, hook = whileBoxOpen] {
                hook();
                held_ = nullptr;
            });
        }
    }

    QTimer boxTimer_;
    QPointer<QMessageBox> held_;
};
