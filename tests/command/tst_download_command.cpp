#include "constants.h"
#include "download_command.h"
#include "expected.h"
#include "http_bodies.h"
#include "link_parsing.h"
#include "recording_window.h"
#include "scripted_socket.h"

#include <QTest>

using namespace corvane;

namespace {

const QString kLink = QStringLiteral("http://site.example/watch?v=abc");
const QString kOtherLink = QStringLiteral("http://other.example/watch?v=xyz");

enum class Start { Connecting, Connected, Answered };
enum class Event {
    Connect,
    TokenData,
    FailData,
    PlainData,
    PeerClose,
    Error,
    NewerCommand,
    Silence,
    Unload
};

const QString kClosedUnanswered
    = QStringLiteral("The video site closed the connection without answering.");

} // namespace

Q_DECLARE_METATYPE(Start)
Q_DECLARE_METATYPE(Event)

class TestDownloadCommand : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void rejectedLinks_data();
    void rejectedLinks();
    void commandConnectsAndSendsOnceConnected();
    void everyStateMeetsEveryEvent_data();
    void everyStateMeetsEveryEvent();
    void onlyTheNewestWaitingCommandSends();
    void replyCutAcrossArrivals();
    void tokenAndFailureInOneArrival();
    void replies_data();
    void replies();
    void trickleKeepsTheReplyAlive();

private:
    // Brings the command into the given state of the connection.
    void reach(Start start);

    DownloadState state;
    ScriptedSocket *socket = nullptr;
    RecordingWindow window;
    DownloadCommand *command = nullptr;
    // Whether the socket was closed each time an error box showed.
    QList<bool> closedUnderBox;
};

void TestDownloadCommand::init()
{
    state = DownloadState();
    window = RecordingWindow();
    closedUnderBox.clear();
    socket = new ScriptedSocket(this);
    command = new DownloadCommand(state, *socket, window, this);
    command->setReplyTimeout(std::chrono::milliseconds(50));
    window.whileErrorBoxShows = [this] {
        closedUnderBox << (socket->state == ScriptedSocket::State::Closed);
    };
}

void TestDownloadCommand::cleanup()
{
    delete command;
    delete socket;
}

void TestDownloadCommand::reach(Start start)
{
    window.requestText = kLink;
    command->Command1_Click();
    if (start == Start::Connecting)
        return;
    QVERIFY(socket->raiseConnect());
    if (start == Start::Connected)
        return;
    QVERIFY(socket->raiseData("status=ok&token=T1&title=One&x=1"));
}

void TestDownloadCommand::rejectedLinks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("requestLink");

    QTest::newRow("empty") << "" << QString(kEmptyLinkMessage) << "before";
    QTest::newRow("placeholder") << "Type in Youtube video link" << QString(kEmptyLinkMessage)
                                 << "before";
    QTest::newRow("placeholder in capitals")
        << "TYPE IN YOUTUBE VIDEO LINK" << QString(kInvalidLinkMessage)
        << "TYPE IN YOUTUBE VIDEO LINK";
    QTest::newRow("blanks") << "  " << QString(kInvalidLinkMessage) << "  ";
    QTest::newRow("V= in capitals")
        << "http://site.example/watch?V=abc" << QString(kInvalidLinkMessage)
        << "http://site.example/watch?V=abc";
}

// A rejected link still closes the open connection and hides a link on offer;
// the status line and the last link stay as they were.
void TestDownloadCommand::rejectedLinks()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(QString, requestLink);

    reach(Start::Answered);
    state.RequestLink = QStringLiteral("before");
    socket->calls.clear();
    window.requestText = text;
    command->Command1_Click();

    QCOMPARE(socket->calls, QStringList{QStringLiteral("Close")});
    QCOMPARE(socket->state, ScriptedSocket::State::Closed);
    QCOMPARE(window.errorBoxes, QStringList{message});
    QCOMPARE(closedUnderBox, QList<bool>{true});
    QVERIFY(!window.linkVisible);
    QVERIFY(!state.Connected);
    QCOMPARE(state.RequestLink, requestLink);
    QCOMPARE(window.statusCaption, QString(kLinkFoundCaption));
    QCOMPARE(state.DownloadLink, expectedDownloadLink("abc", "T1", "One"));
}

void TestDownloadCommand::commandConnectsAndSendsOnceConnected()
{
    window.requestText = QStringLiteral("http://site.example:8080/watch?v=abc&nv=1");
    command->Command1_Click();

    QCOMPARE(socket->calls, (QStringList{"Close", "Connect site.example:8080 80"}));
    QCOMPARE(window.log, (QStringList{"hide link", "status " + QString(kWaitingCaption)}));
    QCOMPARE(state.RequestLink, QStringLiteral("site.example:8080/watch?v=abc&nv=1"));
    QCOMPARE(state.VideoId, QStringLiteral("abc&n"));
    QVERIFY(!state.Connected);
    QVERIFY(socket->sent.isEmpty());

    QVERIFY(socket->raiseConnect());
    QVERIFY(state.Connected);
    QCOMPARE(socket->sent, QByteArrayList{expectedInfoRequest("abc&n", "site.example:8080")});
    QCOMPARE(socket->calls.count(QStringLiteral("SendData")), 1);
    QVERIFY(window.errorBoxes.isEmpty());
}

void TestDownloadCommand::everyStateMeetsEveryEvent_data()
{
    QTest::addColumn<Start>("start");
    QTest::addColumn<Event>("event");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("linkVisible");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<bool>("socketOpen");
    QTest::addColumn<int>("requestsSent");

    const QString waiting = kWaitingCaption;
    const QString found = kLinkFoundCaption;
    const QStringList none;
    const QStringList invalid{kInvalidVideoMessage};
    const QStringList reset{"Connection reset by peer"};
    const QString first = expectedDownloadLink("abc", "T1", "One");
    const QString second = expectedDownloadLink("abc", "T2", "Two");

    QTest::newRow("connecting, connect") << Start::Connecting << Event::Connect << true << false
                                         << waiting << "" << none << true << 1;
    QTest::newRow("connecting, error") << Start::Connecting << Event::Error << false << false
                                       << waiting << "" << reset << false << 0;
    QTest::newRow("connecting, newer command") << Start::Connecting << Event::NewerCommand << false
                                               << false << waiting << "" << none << true << 0;

    QTest::newRow("connected, token") << Start::Connected << Event::TokenData << false << true
                                      << found << second << none << true << 1;
    QTest::newRow("connected, failure") << Start::Connected << Event::FailData << false << false
                                        << waiting << "" << invalid << false << 1;
    QTest::newRow("connected, other data") << Start::Connected << Event::PlainData << true << false
                                           << waiting << "" << none << true << 1;
    QTest::newRow("connected, peer close")
        << Start::Connected << Event::PeerClose << false << false << waiting << ""
        << QStringList{kClosedUnanswered} << false << 1;
    QTest::newRow("connected, error keeps Connected")
        << Start::Connected << Event::Error << true << false << waiting << "" << reset << false
        << 1;
    QTest::newRow("connected, newer command") << Start::Connected << Event::NewerCommand << false
                                              << false << waiting << "" << none << true << 1;
    QTest::newRow("connected, silence")
        << Start::Connected << Event::Silence << false << false << waiting << ""
        << QStringList{kNoAnswerMessage} << false << 1;
    QTest::newRow("connected, unload: closed, nothing more")
        << Start::Connected << Event::Unload << true << false << waiting << "" << none << false
        << 1;
    QTest::newRow("connecting, unload: nothing is sent")
        << Start::Connecting << Event::Unload << false << false << waiting << "" << none << false
        << 0;
    QTest::newRow("connecting, silence is the socket's matter")
        << Start::Connecting << Event::Silence << false << false << waiting << "" << none << true
        << 0;

    // Once answered, the reply's first token and title stand.
    QTest::newRow("answered, another token") << Start::Answered << Event::TokenData << false << true
                                             << found << first << none << true << 1;
    QTest::newRow("answered, failure keeps the link")
        << Start::Answered << Event::FailData << false << true << found << first << invalid << false
        << 1;
    QTest::newRow("answered, other data") << Start::Answered << Event::PlainData << false << true
                                          << found << first << none << true << 1;
    QTest::newRow("answered, peer close keeps the link")
        << Start::Answered << Event::PeerClose << false << true << found << first << none << false
        << 1;
    QTest::newRow("answered, error") << Start::Answered << Event::Error << false << true << found
                                     << first << reset << false << 1;
    QTest::newRow("answered, silence keeps the connection")
        << Start::Answered << Event::Silence << false << true << found << first << none << true
        << 1;
    QTest::newRow("answered, newer command hides the link")
        << Start::Answered << Event::NewerCommand << false << false << waiting << first << none
        << true << 1;
}

void TestDownloadCommand::everyStateMeetsEveryEvent()
{
    QFETCH(Start, start);
    QFETCH(Event, event);
    QFETCH(bool, connected);
    QFETCH(bool, linkVisible);
    QFETCH(QString, status);
    QFETCH(QString, link);
    QFETCH(QStringList, errors);
    QFETCH(bool, socketOpen);
    QFETCH(int, requestsSent);

    reach(start);
    switch (event) {
    case Event::Connect:
        QVERIFY(socket->raiseConnect());
        break;
    case Event::TokenData:
        QVERIFY(socket->raiseData("&token=T2&title=Two&"));
        break;
    case Event::FailData:
        QVERIFY(socket->raiseData("status=fail&errorcode=150"));
        break;
    case Event::PlainData:
        QVERIFY(socket->raiseData("<html>Moved</html>"));
        break;
    case Event::PeerClose:
        QVERIFY(socket->raisePeerClose());
        break;
    case Event::Error:
        QVERIFY(socket->raiseError(104, QStringLiteral("Connection reset by peer")));
        break;
    case Event::NewerCommand:
        window.requestText = kOtherLink;
        command->Command1_Click();
        break;
    case Event::Silence:
        QTest::qWait(200);
        break;
    case Event::Unload:
        command->CloseSocket();
        QTest::qWait(200);
        break;
    }

    QCOMPARE(state.Connected, connected);
    QCOMPARE(window.linkVisible, linkVisible);
    QCOMPARE(window.statusCaption, status);
    QCOMPARE(state.DownloadLink, link);
    if (linkVisible)
        QCOMPARE(window.linkCaption, QString(kLinkCaption));
    QCOMPARE(window.errorBoxes, errors);
    QCOMPARE(closedUnderBox, QList<bool>(errors.size(), true));
    QCOMPARE(socket->state != ScriptedSocket::State::Closed, socketOpen);
    QCOMPARE(socket->sent.size(), requestsSent);

    if (event == Event::NewerCommand) {
        // The abandoned command never sends; the newer one sends its own, once.
        QVERIFY(socket->raiseConnect());
        QCOMPARE(socket->sent.size(), requestsSent + 1);
        QCOMPARE(socket->sent.last(), expectedInfoRequest("xyz", "other.example"));
        QCOMPARE(state.VideoId, QStringLiteral("xyz"));
    }
}

void TestDownloadCommand::onlyTheNewestWaitingCommandSends()
{
    for (int i = 0; i < 5; ++i) {
        window.requestText = QStringLiteral("http://h%1/watch?v=id%1").arg(i);
        command->Command1_Click();
    }
    QCOMPARE(socket->calls.count(QStringLiteral("Close")), 5);
    QVERIFY(socket->raiseConnect());
    QCOMPARE(socket->sent, QByteArrayList{expectedInfoRequest("id4", "h4")});

    // A reply to the newest command is read against its own id.
    QVERIFY(socket->raiseData("&token=K&"));
    QVERIFY(socket->raisePeerClose());
    QCOMPARE(state.DownloadLink, expectedDownloadLink("id4", "K", ""));
}

// Only a whole link is offered: the token once its '&' has come, the title
// likewise; the failure marker counts whenever it comes.
void TestDownloadCommand::replyCutAcrossArrivals()
{
    reach(Start::Connected);
    for (const QByteArray piece : {"status=ok&tok", "en=AB", "%3D&title=My"}) {
        QVERIFY(socket->raiseData(piece));
        QVERIFY2(!window.linkVisible, piece.constData());
        QCOMPARE(window.statusCaption, QString(kWaitingCaption));
        QVERIFY(state.Connected);
        QVERIFY(state.DownloadLink.isEmpty());
    }
    QVERIFY(socket->raiseData("+Clip&len=1 status=f"));
    QVERIFY(window.linkVisible);
    QCOMPARE(state.DownloadLink, expectedDownloadLink("abc", "AB%3D", "My+Clip"));
    QVERIFY(!state.Connected);

    QVERIFY(socket->raiseData("ail"));
    QCOMPARE(window.errorBoxes, QStringList{kInvalidVideoMessage});
    QCOMPARE(socket->state, ScriptedSocket::State::Closed);
    QVERIFY(window.linkVisible);
    QCOMPARE(state.DownloadLink, expectedDownloadLink("abc", "AB%3D", "My+Clip"));
}

void TestDownloadCommand::tokenAndFailureInOneArrival()
{
    reach(Start::Connected);
    window.log.clear();
    QVERIFY(socket->raiseData("status=fail&token=T&title=X&"));
    QCOMPARE(window.log, (QStringList{"status " + QString(kLinkFoundCaption), "show link",
                                      "link " + QString(kLinkCaption),
                                      "error " + QString(kInvalidVideoMessage)}));
    QCOMPARE(closedUnderBox, QList<bool>{true});
    QCOMPARE(state.DownloadLink, expectedDownloadLink("abc", "T", "X"));
    QVERIFY(!state.Connected);
}

void TestDownloadCommand::replies_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<bool>("peerCloses");
    // The piece after which the link shows (pieces.size() for the close), or -1.
    QTest::addColumn<int>("offeredAfter");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("message");

    const QByteArray body = "status=ok&token=AB%3D&title=My+Clip";
    const QByteArray reply = httpReply("Content-Type: text/plain\r\n", body);
    const QString link = expectedDownloadLink("abc", "AB%3D", "My+Clip");
    const QByteArray gzipChunked = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n"
                                   "Transfer-Encoding: chunked\r\n\r\n"
                                   + chunked(gzipped(body + "&length_seconds=1"), 9);

    QTest::newRow("http, whole") << QByteArrayList{reply} << false << 0 << link << "";
    QTest::newRow("http, title ends with the body")
        << QByteArrayList{reply.chopped(3), reply.last(3)} << false << 1 << link << "";
    QTest::newRow("http, gzip in chunks")
        << QByteArrayList{gzipChunked.left(90), gzipChunked.mid(90)} << false << 1 << link << "";
    QTest::newRow("http, kept open after the link, then closed")
        << QByteArrayList{reply} << true << 0 << link << "";
    QTest::newRow("bare text, title runs to the close")
        << QByteArrayList{"status=ok&token=AB%3D", "&title=My+Clip"} << true << 2 << link << "";
    QTest::newRow("bare text, no title") << QByteArrayList{"status=ok&token=AB%3D"} << true << 1
                                         << expectedDownloadLink("abc", "AB%3D", "") << "";

    QTest::newRow("redirect")
        << QByteArrayList{httpReply("Location: http://site.example/new?v=abc\r\n", "",
                                    "301 Moved Permanently")}
        << false << -1 << ""
        << "The video site answered 301 Moved Permanently (to http://site.example/new?v=abc) "
           "instead of the video's info.";
    QTest::newRow("not found") << QByteArrayList{httpReply("", "<html>", "404 Not Found")} << false
                               << -1 << ""
                               << "The video site answered 404 Not Found instead of the video's "
                                  "info.";
    QTest::newRow("ok without info")
        << QByteArrayList{httpReply("", "status=ok&len=3")} << false << -1 << ""
        << "The video site's reply held no video info.";
    QTest::newRow("bare text without info, closed")
        << QByteArrayList{"<html>Moved</html>"} << true << -1 << ""
        << "The video site's reply held no video info.";
    QTest::newRow("brotli") << QByteArrayList{httpReply("Content-Encoding: br\r\n", "\x1b\x03")}
                            << false << -1 << ""
                            << "The video site's reply is compressed as \"br\", which this "
                               "program cannot read.";
    QTest::newRow("damaged chunks")
        << QByteArrayList{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"} << false
        << -1 << ""
        << "The video site's reply has damaged chunked framing (Invalid character in chunk "
           "size).";
    QTest::newRow("damaged gzip")
        << QByteArrayList{httpReply("Content-Encoding: gzip\r\n",
                                    QByteArray("\x1f\x8b\x08\0\0\0\0\0\0\x03\xff\xff", 12))}
        << false << -1 << ""
        << "The video site's reply could not be read: its gzip data is damaged (invalid block "
           "type).";
    QTest::newRow("cut short, token open")
        << QByteArrayList{reply.left(reply.indexOf("&title"))} << true << -1 << ""
        << "The video site closed the connection before its reply was complete.";
}

// Replies as servers send them, through the command: the link shows once it
// is whole, and a reply that cannot give one is reported with the socket
// closed first.
void TestDownloadCommand::replies()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(bool, peerCloses);
    QFETCH(int, offeredAfter);
    QFETCH(QString, link);
    QFETCH(QString, message);

    reach(Start::Connected);
    for (qsizetype i = 0; i <= pieces.size(); ++i) {
        if (i < pieces.size())
            socket->raiseData(pieces[i]);
        else if (peerCloses)
            socket->raisePeerClose();
        QCOMPARE(window.linkVisible, offeredAfter >= 0 && i >= offeredAfter);
    }
    QCOMPARE(state.DownloadLink, link);
    QCOMPARE(window.statusCaption, QString(link.isEmpty() ? kWaitingCaption : kLinkFoundCaption));
    QCOMPARE(window.errorBoxes, message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(closedUnderBox, QList<bool>(window.errorBoxes.size(), true));
    QCOMPARE(socket->state == ScriptedSocket::State::Closed, !message.isEmpty() || peerCloses);
}

// The time-out counts silence: a reply that keeps coming, however slowly, is
// waited for.
void TestDownloadCommand::trickleKeepsTheReplyAlive()
{
    reach(Start::Connected);
    for (const char *piece : {"status=ok", "&token=", "T", "&title=", "Slow&"}) {
        QTest::qWait(30);
        QVERIFY(socket->raiseData(piece));
    }
    QVERIFY(window.errorBoxes.isEmpty());
    QCOMPARE(state.DownloadLink, expectedDownloadLink("abc", "T", "Slow"));
    QTest::qWait(120);
    QVERIFY(window.errorBoxes.isEmpty());
    QCOMPARE(socket->state, ScriptedSocket::State::Connected);
}

QTEST_GUILESS_MAIN(TestDownloadCommand)
#include "tst_download_command.moc"
