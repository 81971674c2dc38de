#include "constants.h"
#include "download_command.h"
#include "download_url.h"
#include "expected.h"
#include "loopback_server.h"
#include "main_window.h"
#include "message_box_watcher.h"
#include "window_driver.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <memory>

using namespace corvane;

namespace {

// A whole reply: the token and the title each end at an '&'.
const QByteArray kWholeBody = "status=ok&token=AB%3D&title=My+Clip&length_seconds=10";
const QByteArray kWholeReply = "HTTP/1.1 200 OK\r\n"
                               "Content-Type: application/x-www-form-urlencoded\r\n"
                               "Content-Length: "
                               + QByteArray::number(kWholeBody.size()) + "\r\n\r\n" + kWholeBody;

} // namespace

// The whole program in one window against a server on 127.0.0.1:80, driven
// by clicks and keys.
class TestWindowRoad : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wholeRoad();
    void clicksOnTheLink_data();
    void clicksOnTheLink();
    void socketErrorWithALinkOnOffer();
    void errorBoxes_data();
    void errorBoxes();
    void closingTheWindow_data();
    void closingTheWindow();

private:
    // Clicks into the box, types the link and presses Download.
    void download(const QString &link);
    // Downloads "abc" and answers with kWholeReply: the Answered state.
    void offerLink();
    QLabel *label(const char *name) { return window_->findChild<QLabel *>(name); }

    Corvane_Downloader *window_ = nullptr;
    LoopbackServer *server_ = nullptr;
    std::unique_ptr<LinkCatcher> catcher_;
};

void TestWindowRoad::init()
{
    server_ = new LoopbackServer(kRemotePort);
    QVERIFY2(server_->isListening(), qPrintable(server_->errorString()));
    catcher_ = std::make_unique<LinkCatcher>();
    window_ = new Corvane_Downloader;
    window_->show();
    QVERIFY(QTest::qWaitForWindowActive(window_));
}

void TestWindowRoad::cleanup()
{
    catcher_.reset();
    delete window_;
    delete server_;
}

void TestWindowRoad::download(const QString &link)
{
    pressDownload(window_, link, true);
}

void TestWindowRoad::wholeRoad()
{
    download(QStringLiteral("http://127.0.0.1/watch?v=abc123"));
    QCOMPARE(label("Label2")->text(), QString(kWaitingCaption));
    QTRY_COMPARE_WITH_TIMEOUT(server_->received.value(0),
                              expectedInfoRequest("abc123", "127.0.0.1"), 5000);

    // The reply in pieces, the token cut between two of them.
    QTcpSocket *peer = server_->latest();
    for (const QByteArray &piece :
         {kReplyHead + "status=ok&length_seconds=7&to", QByteArray("ken=AB%3D&tit"),
          QByteArray("le=Caf\xe9+Clip&video_id=abc123")}) {
        peer->write(piece);
        QVERIFY(peer->waitForBytesWritten(1000));
        QTest::qWait(30);
    }
    QTRY_VERIFY_WITH_TIMEOUT(label("Label1")->isVisible(), 5000);
    QCOMPARE(label("Label2")->text(), QStringLiteral("Download link:"));
    QCOMPARE(label("Label1")->text(), QStringLiteral("Click Here To Download The Video"));

    QTest::mouseClick(label("Label1"), Qt::LeftButton);
    QCOMPARE(catcher_->opened.size(), 1);
    QCOMPARE(catcher_->opened[0].toEncoded(),
             "http://" + QByteArray(kLinkServiceHost.data(), kLinkServiceHost.size())
                 + "/download/index.php?video_id=abc123&id=AB%3D&n=Caf%E9+Clip");

    // The peer closes: the link stays on offer and still opens.
    peer->disconnectFromHost();
    QTest::qWait(100);
    QVERIFY(label("Label1")->isVisible());
    QTest::mouseClick(label("Label1"), Qt::LeftButton);
    QCOMPARE(catcher_->opened.size(), 2);

    // The next Download takes it away.
    download(QStringLiteral("http://127.0.0.1/watch?v=next"));
    QVERIFY(!label("Label1")->isVisible());
    QCOMPARE(label("Label2")->text(), QString(kWaitingCaption));
}

void TestWindowRoad::offerLink()
{
    download(QStringLiteral("http://127.0.0.1/watch?v=abc"));
    QTRY_VERIFY_WITH_TIMEOUT(server_->received.value(0).endsWith("\r\n\r\n"), 5000);
    server_->latest()->write(kWholeReply);
    QTRY_VERIFY_WITH_TIMEOUT(label("Label1")->isVisible(), 5000);
    QCOMPARE(window_->downloadState().DownloadLink,
             expectedDownloadLink("abc", "AB%3D", "My+Clip"));
}

void TestWindowRoad::clicksOnTheLink_data()
{
    QTest::addColumn<QList<int>>("presses"); // ms after the first
    QTest::addColumn<int>("opened");

    QTest::newRow("one click") << QList<int>{0} << 1;
    QTest::newRow("double click") << QList<int>{0, 150} << 1;
    QTest::newRow("triple click") << QList<int>{0, 150, 300} << 1;
    QTest::newRow("two clicks a second apart") << QList<int>{0, 1000} << 2;
    QTest::newRow("two double clicks a second apart") << QList<int>{0, 150, 1000, 1150} << 2;
}

// Presses and releases go through the window system's input as a mouse's
// would, so Qt itself makes the double-click events.
void TestWindowRoad::clicksOnTheLink()
{
    QFETCH(QList<int>, presses);
    QFETCH(int, opened);

    offerLink();
    QWindow *window = window_->windowHandle();
    const QPoint at = label("Label1")->geometry().center();
    const QPointF global = window->mapToGlobal(QPointF(at));
    const int start = QTest::lastMouseTimestamp + 1000;
    for (const int press : std::as_const(presses)) {
        qt_handleMouseEvent(window, at, global, Qt::LeftButton, Qt::LeftButton,
                            QEvent::MouseButtonPress, Qt::NoModifier, start + press);
        qt_handleMouseEvent(window, at, global, Qt::NoButton, Qt::LeftButton,
                            QEvent::MouseButtonRelease, Qt::NoModifier, start + press + 50);
        QCoreApplication::processEvents();
    }
    QTest::lastMouseTimestamp = start + presses.last() + 1000;
    QCOMPARE(catcher_->opened.size(), opened);
    for (const QUrl &url : std::as_const(catcher_->opened))
        QCOMPARE(url.toEncoded(), window_->downloadState().DownloadLink.toLatin1());
}

// A failure the socket reports after the link came: the box shows it, the
// connection is closed and the link stays on offer.
void TestWindowRoad::socketErrorWithALinkOnOffer()
{
    offerLink();
    QTcpSocket *connection = nullptr;
    for (QTcpSocket *socket : window_->findChildren<QTcpSocket *>()) {
        if (socket->state() == QAbstractSocket::ConnectedState)
            connection = socket;
    }
    QVERIFY(connection);

    MessageBoxWatcher boxes;
    // Connecting a connected socket is an error Qt reports on that socket.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("connectToHost.. called when already"));
    connection->connectToHost(QHostAddress::LocalHost, kRemotePort);
    QTRY_COMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen[0].title, QStringLiteral("ERROR"));
    QCOMPARE(boxes.seen[0].text,
             QStringLiteral("Trying to connect while connection is in progress"));
    QTRY_VERIFY_WITH_TIMEOUT(server_->latest()->state() != QAbstractSocket::ConnectedState, 5000);
    QVERIFY(label("Label1")->isVisible());
    QCOMPARE(label("Label2")->text(), QString(kLinkFoundCaption));
    QVERIFY(!window_->downloadState().Connected);

    QTest::mouseClick(label("Label1"), Qt::LeftButton);
    QCOMPARE(catcher_->opened.size(), 1);
}

void TestWindowRoad::errorBoxes_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("needsNameLookup");

    QTest::newRow("invalid video")
        << "http://127.0.0.1/watch?v=gone" << kReplyHead + "status=fail&errorcode=150&reason=Gone"
        << QString(kInvalidVideoMessage) << false;
    QTest::newRow("refused") << "http://127.0.0.2/watch?v=a" << QByteArray() << "Connection refused"
                             << false;
    QTest::newRow("empty host") << "http:///watch?v=abc" << QByteArray() << "Host not found"
                                << false;
    QTest::newRow("unknown host") << "http://nothing-here.invalid/watch?v=a" << QByteArray()
                                  << "Host not found" << true;
}

void TestWindowRoad::errorBoxes()
{
    QFETCH(QString, link);
    QFETCH(QByteArray, reply);
    QFETCH(QString, message);
    QFETCH(bool, needsNameLookup);
    if (needsNameLookup && qEnvironmentVariableIsSet("CORVANE_NO_NAME_LOOKUP"))
        QSKIP("a name lookup would leave this machine outside a private network namespace");

    MessageBoxWatcher boxes;
    download(link);
    if (!reply.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(server_->received.value(0).endsWith("\r\n\r\n"), 5000);
        server_->latest()->write(reply);
    }
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 10000);
    QCOMPARE(boxes.seen[0].title, QStringLiteral("ERROR"));
    QCOMPARE(boxes.seen[0].text, message);
    QCOMPARE(boxes.seen[0].icon, QMessageBox::Warning);
    QCOMPARE(label("Label2")->text(), QString(kWaitingCaption));
    QVERIFY(!label("Label1")->isVisible());
    QVERIFY(!window_->downloadState().Connected);
    QVERIFY(window_->isVisible());
}

void TestWindowRoad::closingTheWindow_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("while a reply is awaited") << "awaiting";
    QTest::newRow("while connecting") << "connecting";
    QTest::newRow("with a link on offer") << "answered";
}

// Closing lets the connection go at once, nothing more is sent, and the
// program's last window is gone.
void TestWindowRoad::closingTheWindow()
{
    QFETCH(QString, when);
    const bool connected = when != "connecting";
    std::optional<HangingListener> hanging;
    if (!connected) {
        delete server_;
        server_ = nullptr;
        hanging.emplace(kRemotePort);
        QVERIFY(hanging->isReady());
    }
    if (when == "answered") {
        offerLink();
    } else {
        download(QStringLiteral("http://127.0.0.1/watch?v=abc"));
        if (connected)
            QTRY_VERIFY_WITH_TIMEOUT(server_->received.value(0).endsWith("\r\n\r\n"), 5000);
    }
    QTest::qWait(50);

    QElapsedTimer clock;
    clock.start();
    QVERIFY(window_->close());
    QVERIFY(!window_->isVisible());
    QVERIFY(QGuiApplication::quitOnLastWindowClosed());
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), "a window stays open");
    QVERIFY(window_->findChildren<QTcpSocket *>().isEmpty()
            || window_->findChildren<QTcpSocket *>().first()->state()
                   == QAbstractSocket::UnconnectedState);
    if (connected) {
        const QByteArray before = server_->received.value(0);
        QTRY_VERIFY_WITH_TIMEOUT(server_->latest()->state() != QAbstractSocket::ConnectedState,
                                 1000);
        QCOMPARE(server_->received.value(0), before);
    }
    QVERIFY(clock.elapsed() < 1000);
}

QTEST_MAIN(TestWindowRoad)
#include "tst_window_road.moc"
