#include "child_process.h"
#include "download_command.h"
#include "expected.h"
#include "loopback_server.h"
#include "window_driver.h"

#include <QFile>
#include <QKeySequence>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QUdpSocket>

#include <memory>
#include <optional>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

const QString kWaiting = QStringLiteral("Getting the download link.. Please wait..");
const QString kFound = QStringLiteral("Download link:");
const QString kNoLink = QStringLiteral("Please type in a video URL in the field");
const QString kBadLink = QStringLiteral("Please type in a valid youtube video link");
const QString kAbc = QStringLiteral("http://127.0.0.1/watch?v=abc");
// Steps of a scripted exchange that are not bytes for the peer to send.
const QByteArray kClose = "<close>", kReset = "<reset>", kSocketError = "<socket error>";

} // namespace

// The real window on the offscreen platform, driven by keys and clicks,
// against a server on 127.0.0.1:80: one that each case scripts, or a real one.
class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { driver_.reset(), server_.reset(); }

    void userActions_data();
    void userActions();
    void infoEndpoints_data();
    void infoEndpoints();
    void endsSoonAfterItsWindowCloses_data();
    void endsSoonAfterItsWindowCloses();
    void startAndEndReachThePlatform();

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
    QVERIFY(QTest::qWaitForWindowActive(&driver_->window));
}

void TestWindow::userActions_data()
{
    QTest::addColumn<QString>("steps");   // see act()
    QTest::addColumn<bool>("focusInBox"); // else on Download
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message"); // of the one box shown, if any
    QTest::addColumn<int>("opened");      // links opened

    const auto row = [](const char *name, const QString &steps, bool focusInBox,
                        const QString &text, const QString &message, int opened = 0) {
        QTest::newRow(name) << steps << focusInBox << text << message << opened;
    };
    const QString start = QStringLiteral("Type in Youtube video link");
    row("nothing yet", "", false, start, "");
    row("a click into the box clears it", "click box", true, "", "");
    row("Tab into the box clears it", "key Tab", true, "", "");
    row("Shift+Tab into the box clears it", "key Shift+Tab", true, "", "");
    row("back into the box after Download clears it again",
        "click box;type typed;click Download;activate;key Tab", true, "", kBadLink);
    row("Return, Enter and Escape in the box run nothing",
        "click box;type " + kAbc + ";key Return;key Num+Enter;key Esc", true, kAbc, "");
    row("a click on Download", "click Download", false, start, kNoLink);
    row("Return on Download", "key Return", false, start, kNoLink);
    row("keypad Enter on Download", "key Num+Enter", false, start, kNoLink);
    row("Tab from the box to Download, then Return", "click box;type typed;key Tab;key Return",
        false, "typed", kBadLink);
    row("a held Return presses once", "key Return;activate;repeat Return", false, start, kNoLink);
    row("a press under the error box does nothing", "press under box;click Download", false, start,
        kNoLink);
    row("a double click on the link opens it once", "offer;clicks 0 150", false, kAbc, "", 1);
    row("a triple click on the link opens it once", "offer;clicks 0 150 300", false, kAbc, "", 1);
    row("two double clicks a second apart", "offer;clicks 0 150 1000 1150", false, kAbc, "", 2);
    // Only a move of the focus within the window clears the box.
    row("the window coming back keeps what was typed", "click box;type typed;switch", true, "typed",
        "");
    const QString injected = "http://127.0.0.1/watch?v=lb1\r\nX-Injected: yes";
    row("a pasted header line is refused", "click box;paste " + injected + ";click Download", false,
        injected, kBadLink);
}

// Runs steps separated by ';', each a verb and its argument.
void TestWindow::act(WindowDriver &w, const QString &steps)
{
    for (const QString &step : steps.split(u';', Qt::SkipEmptyParts)) {
        const QString verb = step.section(u' ', 0, 0), arg = step.section(u' ', 1);
        QWidget *focus = QApplication::focusWidget();
        if (verb == u"click") {
            QTest::mouseClick(arg == u"box" ? static_cast<QWidget *>(w.box()) : w.button(),
                              Qt::LeftButton);
        } else if (verb == u"type") {
            QTest::keyClicks(focus, arg);
        } else if (verb == u"paste") {
            QApplication::clipboard()->setText(arg);
            QTest::keyClick(focus, Qt::Key_V, Qt::ControlModifier);
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
                w.whileBoxOpen = nullptr, w.button()->click();
            };
        } else if (verb == u"activate") {
            w.window.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w.window));
        } else if (verb == u"offer") {
            server_ = std::make_unique<LoopbackServer>(kRemotePort);
            w.download(kAbc);
            QVERIFY(requestArrived());
            server_->latest()->write(kReplyHead + "&token=T&title=X&");
            QTRY_VERIFY_WITH_TIMEOUT(w.linkShown(), 5000);
        } else if (verb == u"clicks") { // presses at these milliseconds
            // Through the window system's input, so that Qt itself makes the
            // double-click events.
            const QPoint at = w.label("Label1")->geometry().center();
            const int first = QTest::lastMouseTimestamp + 1000;
            for (const QString &press : arg.split(u' ')) {
                QTest::lastMouseTimestamp = first + press.toInt() - 1;
                QTest::mouseClick(w.window.windowHandle(), Qt::LeftButton, {}, at);
            }
            QTest::lastMouseTimestamp = first + 3000;
        } else {
            QFAIL(qPrintable("no such step: " + step));
        }
    }
}

void TestWindow::userActions()
{
    QFETCH(QString, steps);
    QFETCH(bool, focusInBox);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(int, opened);

    WindowDriver &w = *driver_;
    act(w, steps);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    // Offscreen, the window is not activated again after a box or another window.
    w.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    QTRY_COMPARE(QApplication::focusWidget(),
                 focusInBox ? static_cast<QWidget *>(w.box()) : w.button());
    QCOMPARE(w.box()->text(), text);
    QCOMPARE(w.boxes, message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(w.status(), opened ? kFound : QString());
    QCOMPARE(w.opened.size(), opened);
    for (const QUrl &url : std::as_const(w.opened))
        QCOMPARE(url.toEncoded(), expectedDownloadLink("abc", "T", "X").toLatin1());
}

void TestWindow::infoEndpoints_data()
{
    QTest::addColumn<QString>("server");           // "loopback", or the real one to start
    QTest::addColumn<QByteArrayList>("script");    // what the loopback server does, step by step
    QTest::addColumn<QByteArray>("configuration"); // of the real server
    QTest::addColumn<QByteArray>("opened");        // the link offered, after "video_id="
    QTest::addColumn<QString>("message");          // of the one box shown, if any
    QTest::addColumn<QString>("link");             // typed into the window
    QTest::addColumn<QByteArray>("videoId");       // as the request carries it

    const auto row = [](const char *name, const QByteArrayList &script, const QByteArray &opened,
                        const QString &message, const QString &link = kAbc,
                        const QByteArray &videoId = "abc") {
        QTest::newRow(name) << "loopback" << script << QByteArray() << opened << message << link
                            << videoId;
    };
    const QByteArray tx = kReplyHead + "&token=T&title=X";
    row("the reply in pieces, the token cut between two",
        {kReplyHead + "status=ok&length_seconds=7&to", "ken=AB%3D&tit", "le=Caf\xe9+Clip&v=abc"},
        "abc&id=AB%3D&n=Caf%E9+Clip", "");
    row("closes after the token", {tx, kClose}, "abc&id=T&n=X", "");
    row("resets mid-reply", {kReplyHead + "status=ok&len", kReset}, "",
        "The video site's reply held no video info.");
    row("invalid video", {kReplyHead + "status=fail&errorcode=150"}, "",
        "Invalid Youtube video, Please check and try again.");
    row("stays silent", {}, "", "The video site did not answer in time.");
    row("a socket error while the reply is awaited", {kSocketError}, "",
        "Trying to connect while connection is in progress");
    row("connection refused", {}, "", "Connection refused", "http://127.0.0.2/watch?v=a");
    // The link holds the reply's bytes as they came, those that a URL may not
    // hold as they are escaped as themselves.
    row("bytes a URL does not hold as they are",
        {kReplyHead + "&token=a" + '\0' + "\x80\xfe\r\n/../x#y%&title=a?b c@d\"<>\\^`{|}[]%z1%4",
         kClose},
        "abc&id=a%00%80%FE%0D%0A/../x%23y%25&n=a?b%20c@d%22%3C%3E%5C%5E%60%7B%7C%7D%5B%5D%25z1%254",
        "");
    const QByteArray longText(100'000, 'k');
    // What is typed goes into the request and the link as it is.
    const QString watch = QStringLiteral("http://127.0.0.1/watch?v=");
    row("100,000 characters typed", {tx + "&"}, longText + "&id=T&n=X", "",
        watch + QString(100'000, u'k'), longText);
    row("characters beyond Latin-1 typed", {tx + "&"}, "?%E9??&id=T&n=X", "",
        watch + QString::fromUtf8("\u4e2d\u00e9\U0001F600"), "?\xe9??");
    row("a paste with white space around it", {tx + "&"}, "pd1&id=T&n=X", "",
        QString::fromUtf8(" \t\u00a0http://127.0.0.1/watch?v=pd1 \u00a0\r\n"), "pd1");
    row("a status phrase with markup shows as it is",
        {"HTTP/1.1 404 <b>Gone</b> <a href=\"http://x/\">here</a>\r\nContent-Length: 0\r\n\r\n"},
        "",
        "The video site answered 404 <b>Gone</b> <a href=\"http://x/\">here</a> instead of the "
        "video's info.");

    // HTTP servers that nobody here wrote, and the stand-in, on port 80 of
    // loopback; @DIR@ is a directory of their own.
    const auto real
        = [](const char *name, const QString &command, const QByteArray &configuration,
             const QByteArray &opened, const QString &message, const QString &link = kAbc) {
              QTest::newRow(name) << command << QByteArrayList() << configuration << opened
                                  << message << link << QByteArray();
          };
    const QString nginxCommand = "/usr/sbin/nginx -p @DIR@ -c @DIR@/server.conf";
    const auto nginx = [](const QByteArray &server) {
        return "daemon off; worker_processes 1; user root; error_log @DIR@/error.log;\n"
               "pid @DIR@/nginx.pid; events {}\n"
               "http { access_log off; default_type application/x-www-form-urlencoded;\n"
               "client_body_temp_path @DIR@/body; proxy_temp_path @DIR@/proxy;\n"
               "fastcgi_temp_path @DIR@/fastcgi; uwsgi_temp_path @DIR@/uwsgi;\n"
               "scgi_temp_path @DIR@/scgi; server { listen 127.0.0.1:80; "
               + server + " } }\n";
    };
    const QByteArray info = "abc&id=QWxhZGRpbg%3D%3D&n=Real+Caf%C3%A9";
    real("nginx, gzip in chunks", nginxCommand,
         nginx("gzip on; gzip_min_length 1; gzip_types application/x-www-form-urlencoded;"
               "location = /get_video_info { alias @DIR@/get_video_info; }"),
         info, "");
    real("nginx, redirect", nginxCommand,
         nginx("location = /get_video_info { return 301 http://127.0.0.1/moved; }"), "",
         "The video site answered 301 Moved Permanently (to http://127.0.0.1/moved) instead of "
         "the video's info.");
    real("lighttpd, a static file", "/usr/sbin/lighttpd -D -f @DIR@/server.conf",
         "server.document-root = \"@DIR@\"\nserver.bind = \"127.0.0.1\"\nserver.port = 80\n"
         "mimetype.assign = (\"\" => \"application/x-www-form-urlencoded\")\n",
         info, "");
    real("python http.server, a chunk ends inside the token",
         "python3 \"" CORVANE_SOURCE_DIR "/tests/realservers/chunking_server.py\" 127.0.0.1 80", "",
         "abc&id=QWxhZGRpbg%3D%3D&n=Chunked+Caf%C3%A9", "");
    // Its own defaults: 127.0.0.1:80 and [::1]:80; its tokens are its own.
    const QString standin = "\"" CORVANE_STANDIN_PATH "\"";
    real("stand-in, a title beyond ASCII", standin, "",
         "CafeParis42&feature=share&id=*&n=Caf%C3%A9+de+Paris", "",
         "http://localhost/watch?v=CafeParis42&feature=share");
    real("stand-in, unknown video", standin, "", "",
         "Invalid Youtube video, Please check and try again.",
         "http://localhost/watch?v=NotInCatalog");
}

// What the window shows and what goes over the wire for each reply, close,
// reset, silence or failure of the socket. Each box stays open longer than
// the reply may take: nothing of the connection may run under it.
void TestWindow::infoEndpoints()
{
    QFETCH(QString, server);
    QFETCH(QByteArrayList, script);
    QFETCH(QByteArray, configuration);
    QFETCH(QByteArray, opened);
    QFETCH(QString, message);
    QFETCH(QString, link);
    QFETCH(QByteArray, videoId);

    WindowDriver &w = *driver_;
    w.window.findChild<DownloadCommand *>()->setReplyTimeout(800ms);
    QTemporaryDir dir;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithThisProcess(process);
    const auto stop = qScopeGuard([&] { process.terminate(), process.waitForFinished(5000); });
    if (server == u"loopback")
        server_ = std::make_unique<LoopbackServer>(kRemotePort);
    if (server != u"loopback") {
        QFile info(dir.filePath(QStringLiteral("get_video_info")));
        QFile config(dir.filePath(QStringLiteral("server.conf")));
        QVERIFY(info.open(QIODevice::WriteOnly) && config.open(QIODevice::WriteOnly));
        info.write("status=ok&token=QWxhZGRpbg%3D%3D&title=Real+Caf%C3%A9&fmt_list="
                   + QByteArray(900, 'x') + "&video_id=abc");
        config.write(configuration.replace("@DIR@", QFile::encodeName(dir.path())));
        info.close(), config.close();
        const QStringList command = QProcess::splitCommand(server.replace("@DIR@", dir.path()));
        process.start(command.first(), command.mid(1));
        const auto listening = [] {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), 80);
            return probe.waitForConnected(100);
        };
        QVERIFY2(QTest::qWaitFor(listening, 10000), qPrintable(server + " does not listen"));
    }
    QList<bool> closedUnderBox;
    w.whileBoxOpen = [&] {
        QTcpSocket *peer = server_ ? server_->latest() : nullptr;
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
        } else if (step == kReset) {
            resetConnection(peer);
        } else if (step == kSocketError) {
            // Connecting a connected socket is a failure that Qt reports on it.
            for (QTcpSocket *socket : w.window.findChildren<QTcpSocket *>()) {
                if (socket->state() != QAbstractSocket::ConnectedState)
                    continue;
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("called when already"));
                socket->connectToHost(QHostAddress::LocalHost, kRemotePort);
            }
        } else {
            peer->write(step);
            QVERIFY(peer->waitForBytesWritten(1000));
            QTest::qWait(30);
        }
    }
    const bool offered = !opened.isEmpty();
    const QStringList boxes = message.isEmpty() ? QStringList() : QStringList{message};
    QTRY_VERIFY_WITH_TIMEOUT(w.linkShown() == offered && w.boxes.size() >= boxes.size()
                                 && !QApplication::activeModalWidget(),
                             10000);
    QTest::qWait(100);

    QCOMPARE(w.boxes, boxes);
    QCOMPARE(closedUnderBox, QList<bool>(boxes.size(), true));
    QCOMPARE(w.status(), offered ? kFound : kWaiting);
    // The connection stays open once the link is on offer, until the peer ends it.
    const bool peerEnded = script.contains(kClose) || script.contains(kReset);
    if (server_)
        QCOMPARE(server_->latest() && server_->latest()->state() == QAbstractSocket::ConnectedState,
                 boxes.isEmpty() && !peerEnded && offered);
    if (server_ && !server_->connections.isEmpty())
        QCOMPARE(server_->received, QList<QByteArray>{expectedInfoRequest(videoId, "127.0.0.1")});
    if (!offered)
        return;
    QCOMPARE(w.label("Label1")->text(), QStringLiteral("Click Here To Download The Video"));
    QTest::mouseClick(w.label("Label1"), Qt::LeftButton);
    QCOMPARE(w.opened.size(), 1);
    const QString url = QString::fromLatin1(w.opened[0].toEncoded());
    const QString expected = QStringLiteral("http://") + kLinkServiceHost
                             + "/download/index.php?video_id=" + QString::fromLatin1(opened);
    // A '*' stands for the stand-in's own token.
    const QStringList parts = expected.split(u'*');
    QVERIFY2(parts.size() == 1 ? url == expected
                               : url.startsWith(parts[0]) && url.endsWith(parts[1]),
             qPrintable(url.left(300) + " is not " + expected.left(300)));
}

void TestWindow::endsSoonAfterItsWindowCloses_data()
{
    QTest::addColumn<QString>("link");      // downloaded before the window closes
    QTest::addColumn<QByteArray>("server"); // on port 80: "hangs", or its reply to the request
    QTest::addColumn<QByteArray>("sign");   // what the probe reports before the close

    const auto row = [](const char *name, const QString &link, const QByteArray &server = {},
                        const QByteArray &sign = {}) {
        QTest::newRow(name) << link << server << sign;
    };
    row("idle", "");
    row("while a host lookup never ends", "http://video.example/watch?v=abc");
    row("while connecting", kAbc, "hangs");
    row("while the reply is awaited", kAbc, "");
    row("with the link on offer", kAbc, kReplyHead + "&token=T&title=X&", "link on offer\n");
    row("while an error box is open", "http://127.0.0.2/?v=a", "", "box Connection refused\n");
}

// The program as its own process, driven by the window probe
// (tests/support/window_probe.cpp) loaded into it: it starts with its window,
// Download focused, and ends soon after the window closes, normally and with
// status 0, its connection gone and nothing more sent. Qt waits at exit for
// its name lookups, which nothing can cut short: it must end all the same.
void TestWindow::endsSoonAfterItsWindowCloses()
{
    QFETCH(QString, link);
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, sign);
    QStringList command{"env", "QT_QPA_PLATFORM=offscreen", "LD_PRELOAD=" CORVANE_PROBE_PATH,
                        "CORVANE_PROBE_LINK=" + link, CORVANE_PATH};
    // A name server on loopback that takes every query and never answers.
    QUdpSocket nameServer;
    QTemporaryFile resolvConf;
    const bool lookup = link.contains(u"video.example");
    if (lookup) {
        if (QProcess::execute(QStringLiteral("unshare"), {"--mount", "true"}) != 0)
            QSKIP("no private mount namespace for a name server of our own");
        if (!nameServer.bind(QHostAddress::LocalHost, 53)) {
            if (qEnvironmentVariableIsSet("CORVANE_NO_NAME_LOOKUP"))
                QSKIP("port 53 of the host's loopback is taken");
            QFAIL(qPrintable(nameServer.errorString()));
        }
        QVERIFY(resolvConf.open());
        resolvConf.write("nameserver 127.0.0.1\noptions timeout:30 attempts:1\n");
        resolvConf.close();
        const QString mount = "mount --bind \"$0\" /etc/resolv.conf && exec \"$@\"";
        command
            = QStringList{"unshare", "--mount", "sh", "-c", mount, resolvConf.fileName()} + command;
    }
    std::optional<HangingListener> hanging;
    if (server != "hangs" && link.contains(u"127.0.0.1"))
        server_ = std::make_unique<LoopbackServer>(kRemotePort);
    if (server == "hangs")
        QVERIFY(hanging.emplace(kRemotePort).isReady());

    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(command.first(), command.mid(1));
    QByteArray output;
    const auto says = [&](const QByteArray &line) {
        return QTest::qWaitFor(
            [&] { return (output += program.readAllStandardOutput()).contains(line); }, 10000);
    };
    QVERIFY2(says("shown Corvane Downloader, focus Command1\n"), output.constData());
    if (lookup)
        QTRY_VERIFY_WITH_TIMEOUT(nameServer.hasPendingDatagrams(), 10000);
    const QByteArray request = expectedInfoRequest("abc", "127.0.0.1");
    if (server_) {
        QTRY_COMPARE_WITH_TIMEOUT(server_->received.value(0), request, 10000);
        server_->latest()->write(server);
    }
    QVERIFY2(says(sign), output.constData());
    QTest::qWait(100); // well into the connection attempt
    program.write("close\n");
    QVERIFY2(says("closed, open sockets 0\n"), output.constData());
    QVERIFY2(program.state() == QProcess::NotRunning || program.waitForFinished(5000),
             "the program outlived its window by 5 s");
    QVERIFY2(says("closed, open sockets 0\ndestroyed\n"), output.constData());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    if (server_) {
        QTRY_COMPARE(server_->latest()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(server_->received, QList<QByteArray>{request});
    }
}

// Form_Initialize and Form_Terminate reach the platform, once each; the
// result of InitStyles is not looked at.
void TestWindow::startAndEndReachThePlatform()
{
    int started = 0, ended = 0;
    auto *window = new Corvane_Downloader({[&] { return ++started < 0; },
                                           [&] {
                                               ++ended;
                                           }});
    QCOMPARE(std::pair(started, ended), std::pair(1, 0));
    delete window;
    QCOMPARE(std::pair(started, ended), std::pair(1, 1));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
