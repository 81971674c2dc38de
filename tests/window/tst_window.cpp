#include "download_command.h"
#include "expected.h"
#include "loopback_server.h"
#include "window_driver.h"

#include <QKeySequence>
#include <QtDBus>
#include <QtWidgets>

#include <memory>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

const QString kWaiting = QStringLiteral("Getting the download link.. Please wait..");
const QString kFound = QStringLiteral("Download link:");
const QString kNoLink = QStringLiteral("Please type in a video URL in the field");
const QString kBadLink = QStringLiteral("Please type in a valid youtube video link");
const QString kAbc = QStringLiteral("http://127.0.0.1/watch?v=abc");
// A step of a scripted exchange that is not bytes for the peer to send.
const QByteArray kClose = "<close>";
// The link that the step "offer" puts on offer, as the system's opener gets it.
const QByteArray kOffered = expectedLinkQuery("abc&id=T&n=X%20Y");

// What a drop from another program brings: the bytes it sent, which a
// QMimeData of this program's own would turn into QUrls.
class DroppedData final : public QMimeData {
public:
    QStringList formats() const override
    {
        return uriList.isEmpty() ? QMimeData::formats() : QStringList{"text/uri-list"};
    }
    QVariant retrieveData(const QString &type, QMetaType kind) const override
    {
        if (uriList.isEmpty())
            return QMimeData::retrieveData(type, kind);
        return type == u"text/uri-list" ? QVariant(uriList) : QVariant();
    }
    QByteArray uriList;
};

} // namespace

// The real window on the offscreen platform, driven by keys and clicks,
// against a server on 127.0.0.1:80 that each case scripts.
class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup()
    {
        driver_.reset();
        server_.reset();
    }

    void userActions_data();
    void userActions();
    void infoEndpoints_data();
    void infoEndpoints();
    void startAndEndReachThePlatform();
    void linkTellsWhereItGoes();
    void linkReachesTheOpener_data();
    void linkReachesTheOpener();

private:
    void act(WindowDriver &w, const QString &steps);
    bool requestArrived()
    {
        return QTest::qWaitFor([&] { return server_->received.value(0).endsWith("\r\n\r\n"); },
                               5000);
    }

    std::unique_ptr<LoopbackServer> server_;
    std::unique_ptr<WindowDriver> driver_;
};

void TestWindow::init()
{
    driver_ = std::make_unique<WindowDriver>();
    // Under a window manager on a busy machine, activation can take seconds.
    QVERIFY(QTest::qWaitForWindowActive(&driver_->window, 30000));
}

void TestWindow::userActions_data()
{
    QTest::addColumn<QString>("steps"); // see act()
    QTest::addColumn<QString>("focus"); // the focused control
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message"); // of the one box shown, if any
    QTest::addColumn<int>("opened");      // links opened

    const auto row = [](const char *name, const QString &steps, const char *focus,
                        const QString &text, const QString &message, int opened = 0) {
        QTest::newRow(name) << steps << focus << text << message << opened;
    };
    const QString start = QStringLiteral("Type in Youtube video link");
    row("back into the box after Download clears it again",
        "click box;type typed;click Download;activate;key Tab", "txtRequest", "", kBadLink);
    row("Return, Enter and Escape in the box run nothing; Tab to Download, then keypad Enter",
        "click box;type typed;key Return;key Num+Enter;key Esc;key Tab;key Num+Enter", "Command1",
        "typed", kBadLink);
    row("a held Return presses once", "key Return;activate;repeat Return", "Command1", start,
        kNoLink);
    row("a press under the error box does nothing", "press under box;click Download", "Command1",
        start, kNoLink);
    row("a triple click on the link opens it once", "offer;clicks 0 150 300", "Command1", kAbc, "",
        1);
    row("two double clicks a second apart", "offer;clicks 0 150 1000 1150", "Command1", kAbc, "",
        2);
    row("a press on the link let go outside it", "offer;drag", "Command1", kAbc, "", 0);
    row("the window coming back keeps what was typed", "click box;type typed;switch", "txtRequest",
        "typed", "");
    const QString injected = "http://127.0.0.1/watch?v=lb1\r\nX-Injected: yes";
    row("a link dropped on the box's placeholder replaces it", "drop " + kAbc, "txtRequest", kAbc,
        "");
    row("the window coming back selects what was kept, so a paste replaces it",
        "click box;type typed;switch;paste " + kAbc, "txtRequest", kAbc, "");
    const QString escaped = "http://127.0.0.1/watch?v=caf%C3%a9%7E%41";
    row("a URL dropped on an old link replaces it as it was written",
        "click box;type old;drop url " + escaped, "txtRequest", escaped, "");
    row("a pasted header line is refused", "click box;paste " + injected + ";click Download",
        "Command1", injected, kBadLink);
    row("the link, between the box and Download, opens by Return, Space and keypad Enter, once "
        "held",
        "offer;key Shift+Tab;key Return;key Space;key Num+Enter;repeat Return;key Shift+Tab",
        "txtRequest", "", "", 3);
    row("Ctrl+C and Copy Link Address copy it; Open Link opens it",
        "offer;key Shift+Tab;key Ctrl+C;copied;key Menu;choose 1;copied;clicks right;choose "
        "1;copied;"
        "key Shift+F10;choose 0",
        "Label1", kAbc, "", 1);
}

void TestWindow::act(WindowDriver &w, const QString &steps)
{
    for (const QString &step : steps.split(u';', Qt::SkipEmptyParts)) {
        const QString verb = step.section(u' ', 0, 0);
        const QString arg = step.section(u' ', 1);
        QWidget *focus = QApplication::focusWidget();
        if (verb == u"click") {
            QTest::mouseClick(arg == u"box" ? static_cast<QWidget *>(w.box()) : w.button(),
                              Qt::LeftButton);
        } else if (verb == u"type") {
            QTest::keyClicks(focus, arg);
        } else if (verb == u"paste") {
            QApplication::clipboard()->setText(arg);
            QTest::keyClick(focus, Qt::Key_V, Qt::ControlModifier);
        } else if (verb == u"drop") { // text, or "url " and a link, from another program
            DroppedData data;
            if (arg.startsWith(u"url ")) // a URI list, as file managers send
                data.uriList = "# a comment\r\n" + arg.sliced(4).toLatin1() + "\r\n";
            else
                data.setText(arg);
            const QPoint at = w.box()->rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
            QApplication::sendEvent(w.box(), &enter);
            QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
            QApplication::sendEvent(w.box(), &drop);
            QVERIFY(enter.isAccepted() && drop.isAccepted());
        } else if (verb == u"switch") { // to another window and back
            QWidget other;
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            w.window.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w.window));
        } else if (verb == u"key") {
            const QKeyCombination key = QKeySequence(arg)[0];
            QTest::keyClick(focus, key.key(), key.keyboardModifiers());
        } else if (verb == u"repeat") { // the key held down
            QKeyEvent held(QEvent::KeyPress, QKeySequence(arg)[0].key(), {}, {}, true);
            QVERIFY(QApplication::sendEvent(QApplication::focusWidget(), &held));
        } else if (verb == u"press") { // once, under the next box, as an accessibility action may
            w.whileBoxOpen = [&w] {
                w.whileBoxOpen = nullptr;
                w.button()->click();
            };
        } else if (verb == u"activate") {
            w.window.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w.window));
        } else if (verb == u"offer") {
            server_ = std::make_unique<LoopbackServer>(kRemotePort);
            w.download(kAbc);
            QVERIFY(requestArrived());
            server_->latest()->write(kReplyHead
                                     + (arg.isEmpty() ? "&token=T&title=X Y&" : arg.toLatin1()));
            QTRY_VERIFY_WITH_TIMEOUT(w.linkShown(), 5000);
        } else if (verb == u"clicks") { // on the link, at these milliseconds, or "right"
            // Through the window system's input, so that Qt itself makes the
            // double-click and context-menu events.
            const QPoint at = w.label("Label1")->geometry().center();
            const int first = QTest::lastMouseTimestamp + 1000;
            for (const QString &press : arg.split(u' ')) {
                QTest::lastMouseTimestamp = first + press.toInt() - 1;
                const Qt::MouseButton button = press == u"right" ? Qt::RightButton : Qt::LeftButton;
                QTest::mouseClick(w.window.windowHandle(), button, {}, at);
            }
            QTest::lastMouseTimestamp = first + 3000;
        } else if (verb == u"drag") { // a press on the link, let go outside it
            const QPoint at = w.label("Label1")->geometry().center();
            QTest::mousePress(w.window.windowHandle(), Qt::LeftButton, {}, at);
            QTest::mouseRelease(w.window.windowHandle(), Qt::LeftButton, {}, at + QPoint(0, 100));
        } else if (verb == u"choose") { // from the link's menu, item 0 or 1
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            const QList<QAction *> items = menu->actions();
            QCOMPARE(items.size(), 2);
            QCOMPARE(items[0]->text() + u'|' + items[1]->text(), "Open Link|Copy Link Address");
            QTest::mouseClick(menu, Qt::LeftButton, {},
                              menu->actionGeometry(items[arg.toInt()]).center());
        } else if (verb == u"copied") { // the link on the clipboard, as text and as a URL
            const QMimeData *copied = QApplication::clipboard()->mimeData();
            QCOMPARE(copied->text().toLatin1() + '|' + copied->data("text/uri-list"),
                     kOffered + '|' + kOffered + "\r\n");
            QApplication::clipboard()->clear();
        } else {
            QFAIL(qPrintable("no such step: " + step));
        }
    }
}

void TestWindow::userActions()
{
    QFETCH(QString, steps);
    QFETCH(QString, focus);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(int, opened);

    WindowDriver &w = *driver_;
    act(w, steps);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    // Offscreen, the window is not activated again after a box or another window.
    w.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    QTRY_COMPARE(QApplication::focusWidget()->objectName(), focus);
    QCOMPARE(w.box()->text(), text);
    QCOMPARE(w.boxes, message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(w.status(), steps.contains(u"offer") ? kFound : QString());
    QCOMPARE(w.opened.size(), opened);
    for (const QUrl &url : std::as_const(w.opened))
        QCOMPARE(url.toEncoded(), kOffered);
}

void TestWindow::infoEndpoints_data()
{
    QTest::addColumn<QByteArrayList>("script"); // what the server does, step by step
    QTest::addColumn<QByteArray>("opened");     // the link offered, after "video_id="
    QTest::addColumn<QString>("message");       // of the one box shown, if any
    QTest::addColumn<QString>("link");          // pasted into the window

    const auto row = [](const char *name, const QByteArrayList &script, const QByteArray &opened,
                        const QString &message, const QString &link = kAbc) {
        QTest::newRow(name) << script << opened << message << link;
    };
    const QByteArray tx = kReplyHead + "&token=T&title=X";
    row("the reply in pieces, the token cut between two",
        {kReplyHead + "status=ok&length_seconds=7&to", "ken=AB%3D&tit", "le=Caf\xe9+Clip&v=abc"},
        "abc&id=AB%3D&n=Caf%E9+Clip", "");
    // The link holds the reply's bytes as they came, those that a URL may not
    // hold as they are escaped as themselves.
    row("bytes a URL does not hold as they are",
        {kReplyHead + "&token=a" + '\0' + "\x80\xfe\r\n/../x#y%&title=a?b c@d\"<>\\^`{|}[]%z1%4",
         kClose},
        "abc&id=a%00%80%FE%0D%0A/../x%23y%25&n=a?b%20c@d%22%3C%3E%5C%5E%60%7B%7C%7D%5B%5D%25z1%254",
        "");
    row("100,000 characters typed", {tx + "&"}, QByteArray(100'000, 'k') + "&id=T&n=X", "",
        "http://127.0.0.1/watch?v=" + QString(100'000, u'k'));
    row("an IPv6 literal", {tx + "&"}, "v6&id=T&n=X", "", "http://[::1]/watch?v=v6");
    row("a status phrase with markup shows as it is",
        {"HTTP/1.1 404 <b>Gone</b> <a href=\"http://x/\">here</a>\r\nContent-Length: 0\r\n\r\n"},
        "",
        "The video site answered 404 <b>Gone</b> <a href=\"http://x/\">here</a> instead of the "
        "video's info.");
}

// What the window shows and what goes over the wire for each reply. Each box
// stays open longer than the reply may take: nothing of it may run under it.
void TestWindow::infoEndpoints()
{
    QFETCH(QByteArrayList, script);
    QFETCH(QByteArray, opened);
    QFETCH(QString, message);
    QFETCH(QString, link);

    WindowDriver &w = *driver_;
    w.window.findChild<DownloadCommand *>()->setReplyTimeout(800ms);
    const QString host = link.section(u'/', 2, 2);
    server_ = std::make_unique<LoopbackServer>(
        kRemotePort, host == u"[::1]" ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost);
    QList<bool> closedUnderBox;
    w.whileBoxOpen = [&] {
        QTcpSocket *peer = server_->latest();
        closedUnderBox << QTest::qWaitFor(
            [&] { return !peer || peer->state() == QAbstractSocket::UnconnectedState; }, 2000);
        QTest::qWait(1000); // longer than the reply may take
    };

    w.download(link);
    QCOMPARE(w.status(), kWaiting);
    for (const QByteArray &step : std::as_const(script)) {
        QVERIFY(requestArrived());
        QTcpSocket *peer = server_->latest();
        if (step == kClose) {
            peer->disconnectFromHost();
        } else {
            peer->write(step);
            QVERIFY(peer->waitForBytesWritten(1000));
            QTest::qWait(30); // so that each step arrives on its own
        }
    }
    const bool offered = !opened.isEmpty();
    const QStringList boxes = message.isEmpty() ? QStringList() : QStringList{message};
    QVERIFY(w.settled(offered, boxes.size()));
    QCOMPARE(w.boxes, boxes);
    QCOMPARE(closedUnderBox, QList<bool>(boxes.size(), true));
    QCOMPARE(w.status(), offered ? kFound : kWaiting);
    // The connection stays open once the link is on offer, until the peer ends it.
    const bool peerEnded = script.contains(kClose);
    QCOMPARE(server_->latest() && server_->latest()->state() == QAbstractSocket::ConnectedState,
             boxes.isEmpty() && !peerEnded && offered);
    QCOMPARE(server_->received,
             QList<QByteArray>{expectedInfoRequest(link.section(QStringLiteral("v="), 1).toLatin1(),
                                                   host.toLatin1())});
    if (!offered)
        return;
    QCOMPARE(w.label("Label1")->text(), QStringLiteral("Click Here To Download The Video"));
    QCOMPARE(w.clickLink(), expectedLinkQuery(opened));
}

// Form_Initialize and Form_Terminate reach the platform, once each; the
// result of InitStyles is not looked at.
void TestWindow::startAndEndReachThePlatform()
{
    int started = 0;
    int ended = 0;
    auto *window = new Corvane_Downloader({[&] { return ++started < 0; },
                                           [&] {
                                               ++ended;
                                           }});
    QCOMPARE(std::pair(started, ended), std::pair(1, 0));
    delete window;
    QCOMPARE(std::pair(started, ended), std::pair(1, 1));
}

// The pointer resting on the link shows its target; screen readers find a
// link, its name, target and one action that opens it (over AT-SPI under
// window/with-atspi), and the focused Download button describes the outcome,
// which is what a screen reader speaks. Shift+Tab onto the link shows the
// focus; the next Download hides it, passes the focus to Download, and the
// action then does nothing.
void TestWindow::linkTellsWhereItGoes()
{
    WindowDriver &w = *driver_;
    act(w, "offer");
    QLabel *label = w.label("Label1");
    QHelpEvent rest(QEvent::ToolTip, QPoint(), label->mapToGlobal(QPoint()));
    QApplication::sendEvent(label, &rest);
    QTRY_COMPARE(QToolTip::text(), QString::fromLatin1(kOffered));
    QAccessibleInterface *link = QAccessible::queryAccessibleInterface(label);
    QCOMPARE(link->role(), QAccessible::Link);
    QCOMPARE(link->text(QAccessible::Name), QStringLiteral("Click Here To Download The Video"));
    QCOMPARE(link->text(QAccessible::Description).toLatin1(), kOffered);
    const QString press = QAccessibleActionInterface::pressAction();
    QCOMPARE(link->actionInterface()->actionNames(), QStringList{press});
    QAccessibleInterface *button = QAccessible::queryAccessibleInterface(w.button());
    const QString outcome = kFound + " Click Here To Download The Video";
    QCOMPARE(button->text(QAccessible::Description), outcome);
    if (qEnvironmentVariableIsSet("CORVANE_ATSPI")) { // asynchronously: the program answers here
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection(QStringLiteral("a11y")).isConnected(), 10000);
        const QString program = QDBusConnection(QStringLiteral("a11y")).baseService();
        QDBusConnection reader = QDBusConnection::connectToBus(
            qEnvironmentVariable("CORVANE_ATSPI").trimmed(), "screen reader");
        const auto ask = [&](const char *interface, const char *method,
                             const QVariantList &arguments, QAccessibleInterface *of) {
            const QString path
                = "/org/a11y/atspi/accessible/" + QString::number(QAccessible::uniqueId(of));
            QDBusMessage call = QDBusMessage::createMethodCall(program, path, interface, method);
            call.setArguments(arguments);
            const QDBusPendingCall pending = reader.asyncCall(call);
            static_cast<void>(QTest::qWaitFor([&] { return pending.isFinished(); }, 5000));
            return pending.reply().arguments().value(0);
        };
        QCOMPARE(ask("org.a11y.atspi.Accessible", "GetRoleName", {}, link).toString(), "link");
        QCOMPARE(ask("org.freedesktop.DBus.Properties", "Get",
                     {"org.a11y.atspi.Accessible", "Description"}, button)
                     .value<QDBusVariant>()
                     .variant(),
                 outcome);
        QCOMPARE(ask("org.a11y.atspi.Action", "DoAction", {0}, link).toBool(), true);
    } else {
        link->actionInterface()->doAction(press);
    }
    const QImage unfocused = label->grab().toImage();
    QTest::keyClick(w.button(), Qt::Key_Tab, Qt::ShiftModifier);
    QVERIFY(label->grab().toImage() != unfocused);
    w.button()->click(); // as an accessibility action presses it
    QCOMPARE(QApplication::focusWidget(), w.button());
    link->actionInterface()->doAction(press);
    QCOMPARE(w.opened, QList<QUrl>{QUrl::fromEncoded(kOffered)});
}

void TestWindow::linkReachesTheOpener_data()
{
    QTest::addColumn<QByteArray>("token"); // and the title, as the reply holds them
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QString>("message"); // none when the opener is there to take the link

    // QUrl would give "…d~eAf%2Fg%C3%A9": these go to xdg-open, others to Qt's opener.
    const QByteArray escapes = "a%20b%2Bc%C3%A9d%7Ee%41f%2fg%c3%a9";
    const QString notOpened = QStringLiteral("The system could not open the download link.");
    QTest::newRow("escapes as they came") << escapes << QByteArray("X%41") << QString();
    QTest::newRow("with no xdg-open") << escapes << QByteArray("X") << notOpened;
    QTest::newRow("Qt's opener failing") << QByteArray("T") << QByteArray("X") << notOpened;
    const QByteArray title(128 * 1024 - expectedLinkQuery("abc&id=&n=").size() - 65'500, 't');
    QTest::newRow("128 KiB and one, longer than a program's argument takes")
        << QByteArray(65'500, 'k') << title
        << "The download link is 131072 characters long; this system opens links of up to 131071.";
}

// Shift+Tab, Ctrl+C and Return on the link: the clipboard and the opener get
// its bytes as they were composed, or a box says why it cannot be opened.
void TestWindow::linkReachesTheOpener()
{
    QFETCH(QByteArray, token);
    QFETCH(QByteArray, title);
    QFETCH(QString, message);

    QTemporaryDir bin;
    const auto restorePath = qScopeGuard([path = qgetenv("PATH")] { qputenv("PATH", path); });
    qputenv("PATH", bin.path().toLocal8Bit());
    if (message.isEmpty()) // an opener only where the link opens
        QVERIFY(QFile::link(QFINDTESTDATA("xdg-open"), bin.filePath("xdg-open")));
    else
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    act(*driver_,
        "offer &token=" + token + "&title=" + title + "&;key Shift+Tab;key Ctrl+C;key Return");
    QCOMPARE(driver_->boxes, message.isEmpty() ? QStringList() : QStringList{message});
    QFile got(bin.filePath("xdg-open.got"));
    QTRY_VERIFY(!message.isEmpty() || got.size() > 0 || !driver_->opened.isEmpty());
    const QMimeData *copied = QApplication::clipboard()->mimeData();
    const QByteArray link = expectedLinkQuery("abc&id=" + token + "&n=" + title);
    QCOMPARE(copied->text().toLatin1() + '|' + copied->data("text/uri-list") + '|'
                 + driver_->opened.value(0).toEncoded()
                 + (got.open(QIODevice::ReadOnly) ? got.readAll() : QByteArray()),
             link + '|' + link + "\r\n|" + (message.isEmpty() ? link : QByteArray()));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
