#include "download_command.h"
#include "link_parsing.h"
#include "main_window.h"
#include "message_box_watcher.h"
#include "platform.h"
#include "style.h"

#include <QAccessible>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTcpSocket>
#include <QTest>

using namespace corvane;

// The real window, offscreen: its controls, its focus rules and its keys.
class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void window();
    void controls_data();
    void controls();
    void startsWithDownloadFocused();
    void movingIntoTheBoxClearsIt_data();
    void movingIntoTheBoxClearsIt();
    void focusComingBackKeepsTheText();
    void pastingFromTheContextMenuKeepsTheText();
    void enterAndEscapeRunNothing();
    void keysOnDownload_data();
    void keysOnDownload();
    void rejectedLinkShowsTheErrorBox();
    void noDownloadWhileTheErrorBoxIsOpen_data();
    void noDownloadWhileTheErrorBoxIsOpen();
    void startAndEndReachThePlatform();

private:
    template <typename T>
    T *control(const char *name)
    {
        return window_->findChild<T *>(QString::fromLatin1(name));
    }
    QLineEdit *box() { return control<QLineEdit>("txtRequest"); }
    QPushButton *download() { return control<QPushButton>("Command1"); }

    Corvane_Downloader *window_ = nullptr;
};

void TestMainWindow::init()
{
    window_ = new Corvane_Downloader;
    window_->show();
    QVERIFY(QTest::qWaitForWindowActive(window_));
}

void TestMainWindow::cleanup()
{
    delete window_;
    window_ = nullptr;
}

void TestMainWindow::window()
{
    QCOMPARE(window_->objectName(), QStringLiteral("Corvane_Downloader"));
    QCOMPARE(window_->windowTitle(), QStringLiteral("Corvane Downloader"));
    QCOMPARE(window_->size(), QSize(690, 274));
    QCOMPARE(window_->minimumSize(), window_->maximumSize());
    QVERIFY(!window_->windowIcon().pixmap(16, 16).isNull());
    QCOMPARE(window_->font().pointSizeF(), 8.25);
    QVERIFY(!window_->downloadState().Connected);
}

void TestMainWindow::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry"); // twips / 15
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("family");
    QTest::addColumn<qreal>("points");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("underline");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("highlight");

    QTest::newRow("txtRequest") << "txtRequest" << QRect(64, 96, 441, 34)
                                << "Type in Youtube video link"
                                << "MS Sans Serif" << 12.0 << false << false << true << false;
    QTest::newRow("Command1") << "Command1" << QRect(512, 96, 129, 33) << "Download"
                              << "MS Sans Serif" << 12.0 << true << false << true << false;
    QTest::newRow("Label4") << "Label4" << QRect(40, 56, 481, 25)
                            << "Copy the video link and paste it here then click download"
                            << "Arial" << 9.75 << false << false << true << false;
    QTest::newRow("Label3") << "Label3" << QRect(144, 8, 401, 33) << "Corvane Downloader"
                            << "Arial" << 15.75 << true << false << true << true;
    QTest::newRow("Label2") << "Label2" << QRect(192, 152, 321, 49) << ""
                            << "MS Sans Serif" << 12.0 << true << false << true << false;
    QTest::newRow("Label1") << "Label1" << QRect(144, 208, 417, 49) << ""
                            << "MS Sans Serif" << 13.5 << false << true << false << true;
}

void TestMainWindow::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QString, family);
    QFETCH(qreal, points);
    QFETCH(bool, bold);
    QFETCH(bool, underline);
    QFETCH(bool, visible);
    QFETCH(bool, highlight);

    auto *widget = window_->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->property("text").toString(), text);
    QCOMPARE(widget->font().families().value(0), family);
    QCOMPARE(widget->font().pointSizeF(), points);
    QCOMPARE(widget->font().bold(), bold);
    QCOMPARE(widget->font().underline(), underline);
    QCOMPARE(widget->isVisible(), visible);
    const QPalette palette = widget->palette();
    QCOMPARE(palette.color(QPalette::WindowText) == palette.color(QPalette::Highlight), highlight);
}

void TestMainWindow::startsWithDownloadFocused()
{
    QCOMPARE(QApplication::focusWidget(), download());
    QCOMPARE(box()->text(), QString(kPlaceholderText));
    QCOMPARE(box()->accessibleName(), QStringLiteral("Video link"));
    QCOMPARE(control<QLabel>("Label1")->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(!download()->autoDefault() && !download()->isDefault());

    // Frame1 lies behind the text box and the button.
    auto *frame = control<QGroupBox>("Frame1");
    QVERIFY(frame);
    QCOMPARE(frame->geometry(), QRect(40, 72, 617, 73));
    QCOMPARE(window_->childAt(box()->geometry().center()), box());
    QCOMPARE(window_->childAt(download()->geometry().center()), download());
}

void TestMainWindow::movingIntoTheBoxClearsIt_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("click") << "click";
    QTest::newRow("Tab") << "tab";
    QTest::newRow("Shift+Tab") << "backtab";
    QTest::newRow("again after Download took the focus") << "again";
}

void TestMainWindow::movingIntoTheBoxClearsIt()
{
    QFETCH(QString, how);
    if (how == "click") {
        QTest::mouseClick(box(), Qt::LeftButton);
    } else if (how == "tab") {
        QTest::keyClick(download(), Qt::Key_Tab);
    } else if (how == "backtab") {
        QTest::keyClick(download(), Qt::Key_Backtab, Qt::ShiftModifier);
    } else {
        QTest::mouseClick(box(), Qt::LeftButton);
        QTest::keyClicks(box(), "typed");
        MessageBoxWatcher boxes; // "typed" is no video link
        QTest::mouseClick(download(), Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(boxes.seen.size(), 1);
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(QApplication::focusWidget(), box());
    QCOMPARE(box()->text(), QString());
}

void TestMainWindow::focusComingBackKeepsTheText()
{
    QTest::mouseClick(box(), Qt::LeftButton);
    QTest::keyClicks(box(), "http://h/watch?v=1");

    // Away to another program and back.
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
    QCOMPARE(QApplication::focusWidget(), box());
    QCOMPARE(box()->text(), QStringLiteral("http://h/watch?v=1"));
}

void TestMainWindow::pastingFromTheContextMenuKeepsTheText()
{
    QTest::mouseClick(box(), Qt::LeftButton);
    QTest::keyClicks(box(), "http://h/");
    QApplication::clipboard()->setText(QStringLiteral("watch?v=pasted"));

    bool pasted = false;
    QTimer::singleShot(50, this, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction *action : menu->actions()) {
            if (action->text().startsWith(QLatin1String("&Paste"))) {
                pasted = true;
                action->trigger();
            }
        }
        menu->close();
    });
    const QPoint inside = box()->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, inside, box()->mapToGlobal(inside));
    QApplication::sendEvent(box(), &event); // the menu pops up and returns at once

    QTRY_VERIFY(pasted);
    QTRY_COMPARE(QApplication::focusWidget(), box());
    QCOMPARE(box()->text(), QStringLiteral("http://h/watch?v=pasted"));
}

void TestMainWindow::enterAndEscapeRunNothing()
{
    QTest::mouseClick(box(), Qt::LeftButton);
    QTest::keyClicks(box(), "http://127.0.0.1/watch?v=abc");
    QTest::keyClick(box(), Qt::Key_Return);
    QTest::keyClick(box(), Qt::Key_Enter);
    QTest::keyClick(box(), Qt::Key_Escape);
    QTest::qWait(50);
    QCOMPARE(control<QLabel>("Label2")->text(), QString());
    QVERIFY(window_->findChildren<QTcpSocket *>().isEmpty());
    QCOMPARE(box()->text(), QStringLiteral("http://127.0.0.1/watch?v=abc"));
}

void TestMainWindow::keysOnDownload_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<int>("repeats");
    QTest::addColumn<QString>("message"); // of the box the press shows, if any

    const QString empty(kEmptyLinkMessage);
    QTest::newRow("Return") << "Download" << Qt::Key_Return << 0 << empty;
    QTest::newRow("keypad Enter") << "Download" << Qt::Key_Enter << 0 << empty;
    QTest::newRow("Space") << "Download" << Qt::Key_Space << 0 << empty;
    QTest::newRow("Escape") << "Download" << Qt::Key_Escape << 0 << QString();
    QTest::newRow("Return held down") << "Download" << Qt::Key_Return << 3 << empty;
    QTest::newRow("Tab from the text box, then Return")
        << "box" << Qt::Key_Return << 0 << QString(kInvalidLinkMessage);
    QTest::newRow("Shift+Tab from the text box, then Space")
        << "box backwards" << Qt::Key_Space << 0 << QString(kInvalidLinkMessage);
}

// Enter, Return and Space press the focused Download button once per key
// press; the box it shows tells what text the command read.
void TestMainWindow::keysOnDownload()
{
    QFETCH(QString, from);
    QFETCH(Qt::Key, key);
    QFETCH(int, repeats);
    QFETCH(QString, message);

    MessageBoxWatcher boxes;
    if (from != "Download") {
        QTest::mouseClick(box(), Qt::LeftButton);
        QTest::keyClicks(box(), "typed");
        if (from == "box")
            QTest::keyClick(box(), Qt::Key_Tab);
        else
            QTest::keyClick(box(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), download());
        QCOMPARE(box()->text(), QStringLiteral("typed")); // leaving the box keeps the text
    }
    const Qt::KeyboardModifiers modifiers
        = key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
    QTest::keyPress(download(), key, modifiers);
    for (int i = 0; i < repeats; ++i) {
        QKeyEvent again(QEvent::KeyPress, key, modifiers, QString(), true);
        QApplication::sendEvent(download(), &again);
    }
    QTest::keyRelease(download(), key, modifiers);
    QTest::qWait(50);

    QCOMPARE(boxes.seen.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
        QCOMPARE(boxes.seen[0].text, message);
}

void TestMainWindow::rejectedLinkShowsTheErrorBox()
{
    MessageBoxWatcher boxes;
    QTest::mouseClick(download(), Qt::LeftButton);
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen[0].title, QStringLiteral("ERROR"));
    QCOMPARE(boxes.seen[0].text, QString(kEmptyLinkMessage));
    QCOMPARE(boxes.seen[0].icon, QMessageBox::Warning);
    QCOMPARE(boxes.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(control<QLabel>("Label2")->text(), QString());
    QVERIFY(!control<QLabel>("Label1")->isVisible());
}

void TestMainWindow::noDownloadWhileTheErrorBoxIsOpen_data()
{
    QTest::addColumn<QString>("press");
    QTest::newRow("animateClick") << "animateClick";
    QTest::newRow("click") << "click";
    QTest::newRow("accessibility press action") << "accessibility";
}

// The box is modal, yet some presses still reach the button: they run no
// second command and open no second box inside the first.
void TestMainWindow::noDownloadWhileTheErrorBoxIsOpen()
{
    QFETCH(QString, press);

    MessageBoxWatcher boxes;
    int nestedBoxes = 0;
    boxes.beforeAnswer = [&] {
        if (boxes.seen.size() != 1)
            return;
        // A box opened inside this one is closed by a timer of its own: the
        // watcher's timer does not fire again while it runs this.
        QWidget *first = QApplication::activeModalWidget();
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (QWidget *other = QApplication::activeModalWidget(); other && other != first) {
                ++nestedBoxes;
                other->close();
            }
        });
        closer.start(20);
        box()->setText(QStringLiteral("no link")); // a command would show a box at once
        if (press == "animateClick") {
            download()->animateClick();
        } else if (press == "click") {
            download()->click();
        } else {
            QAccessibleInterface *button = QAccessible::queryAccessibleInterface(download());
            button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        }
        QTest::qWait(300);
    };
    QTest::mouseClick(download(), Qt::LeftButton);
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen[0].text, QString(kEmptyLinkMessage));
    QCOMPARE(nestedBoxes, 0);
    QCOMPARE(control<QLabel>("Label2")->text(), QString());
    QVERIFY(window_->findChildren<QTcpSocket *>().isEmpty());

    // Once the box is closed, Download runs again.
    boxes.beforeAnswer = nullptr;
    QTest::mouseClick(download(), Qt::LeftButton);
    QCOMPARE(boxes.seen.size(), 2);
    QCOMPARE(boxes.seen[1].text, QString(kInvalidLinkMessage));
}

// Form_Initialize and Form_Terminate reach their platform calls, and the
// command and the socket go before the window and the state they work on.
void TestMainWindow::startAndEndReachThePlatform()
{
    const LifecycleCalls real = LifecycleCalls::platform();
    QVERIFY(*real.InitStyles.target<bool (*)()>() == &style::InitStyles);
    QVERIFY(*real.SuppressFaultDialog.target<void (*)()>() == &platform::SuppressFaultDialog);

    QStringList log;
    LifecycleCalls calls;
    calls.InitStyles = [&] {
        log << QStringLiteral("InitStyles");
        return false; // not looked at
    };
    calls.SuppressFaultDialog = [&] {
        log << QStringLiteral("SuppressFaultDialog");
    };
    auto *window = new Corvane_Downloader(calls);
    QCOMPARE(log, QStringList{QStringLiteral("InitStyles")});
    QVERIFY(!window->downloadState().Connected);

    const auto noteGone = [&](const char *what) {
        return [&log, window, what](QObject *gone) {
            const bool whole = qobject_cast<Corvane_Downloader *>(gone->parent()) == window
                               && window->findChild<QLineEdit *>(QStringLiteral("txtRequest"));
            log << QStringLiteral("%1 gone, window %2").arg(what, whole ? "whole" : "in pieces");
        };
    };
    connect(window->findChild<DownloadCommand *>(), &QObject::destroyed, noteGone("command"));
    connect(window->findChild<QObject *>(QStringLiteral("Winsock")), &QObject::destroyed,
            noteGone("socket"));
    delete window;
    QCOMPARE(log, QStringList({"InitStyles", "command gone, window whole",
                               "socket gone, window whole", "SuppressFaultDialog"}));
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
