#include "download_command.h"
#include "expected.h"
#include "http_bodies.h"
#include "link_parsing.h"
#include "loopback_server.h"
#include "socket.h"
#include "window_operations.h"
#include "wire_text.h"

#include <QTest>

using namespace corvane;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

const QString kWaiting = u"status Getting the download link.. Please wait.."_s;
const QStringList kOfferEffects{u"status Download link:"_s, u"show"_s,
                                u"caption Click Here To Download The Video"_s};
const QString kInvalidLink = u"Please type in a valid youtube video link"_s;
// In the message column of replies: the reply is dropped, and no box shows.
const QString kDroppedQuietly = u"(dropped, no box)"_s;
const QString kInvalidVideo = u"Invalid Youtube video, Please check and try again."_s;

// The socket and the window in one, logging what is done to them in order.
struct Rig final : Socket, WindowOperations {
    Rig() { command.setReplyTimeout(200ms); }
    void Close() override { log << u"close"_s; }
    void Connect(const QString &host, quint16 port) override
    {
        log << u"connect %1 %2"_s.arg(host).arg(port);
    }
    void SendData(const QString &request) override { log << "send " + request; }
    QByteArray GetData(qint64 total) override { return std::exchange(arrived, {}).left(total); }
    QString RequestText() const override { return typed; }
    void SetStatusCaption(const QString &caption) override { log << "status " + caption; }
    void SetLinkCaption(const QString &caption, const QString &) override
    {
        log << "caption " + caption;
    }
    void SetLinkVisible(bool visible) override { log << (visible ? "show" : "hide"); }
    void ShowErrorBox(const QString &message) override { log << "box " + message; }

    // "click [LINK]", "connect", "data BYTES", "peer close", "error", "unload",
    // "wait" (longer than the reply's time-out), "dawdle" (well within it).
    void run(const QString &event)
    {
        if (event.startsWith(u"click")) {
            typed = event.size() > 6 ? event.sliced(6) : typed;
            command.Command1_Click();
        } else if (event == u"connect") {
            emit ConnectEvent();
        } else if (event.startsWith(u"data ")) {
            arrived = event.sliced(5).toLatin1();
            emit DataArrivalEvent(arrived.size());
        } else if (event == u"peer close") {
            emit CloseEvent();
        } else if (event == u"error") {
            emit ErrorEvent(104, u"Connection reset by peer"_s);
        } else if (event == u"unload") {
            command.CloseSocket();
        } else if (event == u"wait") {
            QTest::qWait(400);
        } else if (event == u"dawdle") {
            QTest::qWait(60);
        } else {
            QFAIL(qPrintable("no such step: " + event));
        }
    }

    QByteArray arrived;
    QStringList log;
    QString typed = u"http://site.example/watch?v=abc"_s;
    DownloadState state;
    DownloadCommand command{state, *this, *this};
};

} // namespace

class TestDownloadCommand : public QObject {
    Q_OBJECT

private slots:
    void links_data();
    void links();
    void everyStateMeetsEveryEvent_data();
    void everyStateMeetsEveryEvent();
    void replies_data();
    void replies();
};

void TestDownloadCommand::links_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("id");      // in the request line
    QTest::addColumn<QString>("host");    // in the Host line
    QTest::addColumn<QString>("address"); // where the socket connects
    QTest::addColumn<QString>("message"); // of a link refused

    const QString empty = u"Please type in a video URL in the field"_s;
    const auto taken = [](const char *name, const QString &text, const QString &id,
                          const QString &host, const QString &address = QString()) {
        QTest::newRow(name) << text << id << host << (address.isNull() ? host : address)
                            << QString();
    };
    const auto refused = [](const char *name, const QString &text, const QString &message) {
        QTest::newRow(name) << text << QString() << QString() << QString() << message;
    };
    refused("empty", "", empty);
    refused("placeholder, other case", "type in Youtube video link", kInvalidLink);
    taken("no scheme, no slash: the host is all", "h?v=abc", "abc", "h?v=abc");
    taken("v= in the scheme, id cut at the second v=, host between the first two ://",
          "v=x://h://c&nv=1", "x://h://c&n", "h");
    taken("empty id and host", "http:///watch?v=", "", "");
    taken("nothing escaped, one byte a character", u"http://h/w?v=a%20#X:\u4e2d\u00e9"_s,
          u"a%20#X:\u4e2d\u00e9"_s, "h");
    taken("white space around dropped", u" \t\u00a0http://h/w?v=pd1 \u00a0\r\n"_s, "pd1", "h");
    taken("an LRM at the end dropped", u"http://h/w?v=Demo1Clip01\u200e"_s, "Demo1Clip01", "h");
    taken("a BOM, an RLM, a tag, a word joiner, U+3000, a Hangul filler, a variation selector "
          "around dropped",
          u"\ufeff\u200f\U000E0041http://h/w?v=a\u2060\u3000\u3164\ufe0f"_s, "a", "h");
    for (const QString &inside :
         {u"\u200b"_s, u"\u00a0"_s, u"\u0085"_s, u"\u0080"_s, u"\u2028"_s, u"\u2029"_s, u"\u00ad"_s,
          u"\U000E0001"_s, u"\u034f"_s, u"\u115f"_s, u"\U000E0100"_s}) {
        const QByteArray code = QByteArray::number(inside.toUcs4()[0], 16).toUpper();
        const QByteArray name = "U+" + code.rightJustified(4, '0') + " inside the id";
        refused(name.constData(), "http://h/w?v=a" + inside + "b", kInvalidLink);
    }
    taken("a zero-width space and a soft hyphen in the host are the lookup's to drop",
          u"http://\u200blocal\u00adhost/w?v=a"_s, "a", "localhost");
    refused("a no-break space in the host is the lookup's to refuse", u"http://h\u00a0h/w?v=a"_s,
            kInvalidLink);
    taken("an IDN host in its ASCII form, a port kept", u"http://B\u00fccher.example:8080/w?v=a"_s,
          "a", "xn--bcher-kva.example:8080");
    taken("a CJK host in its ASCII form", u"\u4e2d\u6587.example/w?v=a"_s, "a",
          "xn--fiq228c.example");
    refused("a host without an ASCII form", u"h\u00e9?v=a"_s, kInvalidLink);
    taken("an IPv6 literal, reached without its brackets", "http://[::1]/w?v=a", "a", "[::1]",
          "::1");
    refused("blanks alone", " \t ", kInvalidLink);
    refused("a header line inside", "http://h/w?v=lb1\r\nX-Injected: yes", kInvalidLink);
    refused("a tab inside", "http://h/w?v=a\tb", kInvalidLink);
    refused("DEL at the end", "http://h/w?v=a\x7f", kInvalidLink);
    refused("a space in the host", "http://h h/w?v=a", kInvalidLink);
}

void TestDownloadCommand::links()
{
    QFETCH(QString, text);
    QFETCH(QString, id);
    QFETCH(QString, host);
    QFETCH(QString, address);
    QFETCH(QString, message);

    const ParsedLink parsed = ParseVideoLink(text);
    QCOMPARE(parsed.error, message);
    if (!parsed.ok())
        return;
    QCOMPARE(parsed.address, address);
    QCOMPARE(TextToWire(ComposeInfoRequest(parsed.VideoId, parsed.host)),
             expectedInfoRequest(id.toLatin1(), host.toLatin1()));
}

void TestDownloadCommand::everyStateMeetsEveryEvent_data()
{
    QTest::addColumn<QStringList>("start");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QStringList>("effects"); // on socket and window, in order
    QTest::addColumn<QString>("link");

    const auto row = [](const char *name, const QStringList &start, const QString &event,
                        const QStringList &effects, const QString &link) {
        QTest::newRow(name) << start << event << effects << link;
    };
    const QStringList connecting{"click"};
    const QStringList connected{"click", "connect"};
    const QStringList answered = connected + QStringList{"data &token=T1&title=One&"};
    const QString first = expectedDownloadLink("abc", "T1", "One");
    const QString second = expectedDownloadLink("abc", "T2", "Two");
    const QString token = "data &token=T2&title=Two&";
    const QString both = "data status=fail" + token.sliced(4);
    // Whatever it abandoned, only the newer command sends, once.
    const QString newer = "click http://other.example/watch?v=xyz;connect";
    const QStringList reset{"close", "box Connection reset by peer"};
    const QStringList invalid{"close", "box " + kInvalidVideo};
    const QStringList restart{"close", "hide", kWaiting, "connect other.example 80",
                              "send " + expectedInfoRequest("xyz", "other.example")};
    row("connecting, silence, then an error", connecting, "wait;error", reset, "");
    row("connecting, newer command", connecting, newer, restart, "");
    row("connected, token and failure", connected, both,
        kOfferEffects + QStringList{"hide"} + invalid, second);
    row("connected, a reply that trickles in for longer than the time-out", connected,
        "data HTTP/1.1 200 OK\r\n;dawdle;data X: 1\r\n;dawdle;data \r\n;dawdle;data &token=T2;"
        "dawdle;data &title=Two;dawdle;data &",
        kOfferEffects, second);
    row("connected, interim responses are no answer", connected,
        u"data HTTP/1.1 1;dawdle;data 00 Continue\r\n\r\n;dawdle;"_s.repeated(3).chopped(1),
        {"close", "box The video site did not answer in time."}, "");
    row("connected, peer close", connected, "peer close",
        {"close", "close", "box The video site closed the connection without answering."}, "");
    row("connected, error", connected, "error", reset, "");
    row("connected, unload", connected, "unload;wait", {"close"}, "");
    row("answered, failure withdraws the link", answered, both, QStringList{"hide"} + invalid,
        first);
    row("answered, peer close keeps the link", answered, "peer close", {"close"}, first);
    const QByteArray gzipInChunks = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                                    "Content-Encoding: gzip\r\n\r\n"
                                    + chunked(gzipped("&token=T1&title=One&"), 7);
    const QByteArray deflated = httpReply("Content-Encoding: deflate\r\n",
                                          compressed("&token=T3&title=Three&", MAX_WBITS));
    row("answered in gzip chunks, a newer command's deflate reply read afresh",
        connected + QStringList{"data " + QString::fromLatin1(gzipInChunks)},
        newer + ";data " + QString::fromLatin1(deflated), restart + kOfferEffects,
        expectedDownloadLink("xyz", "T3", "Three"));
    const QByteArray damagedGzip = "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\x07";
    row("failed on damaged gzip, a newer command's reply read afresh",
        connected
            + QStringList{"data "
                          + QString::fromLatin1(
                              httpReply("Content-Encoding: gzip\r\n", damagedGzip))},
        newer + ";data " + QString::fromLatin1(httpReply("", "&token=T3&title=Three&")),
        restart + kOfferEffects, expectedDownloadLink("xyz", "T3", "Three"));
    row("answered, silence, then a rejected link", answered, "wait;click http://h/watch?V=abc",
        {"close", "hide", "box " + kInvalidLink}, first);
}

void TestDownloadCommand::everyStateMeetsEveryEvent()
{
    QFETCH(QStringList, start);
    QFETCH(QString, event);
    QFETCH(QStringList, effects);
    QFETCH(QString, link);

    Rig rig;
    for (const QString &step : start)
        rig.run(step);
    rig.log.clear();
    for (const QString &step : event.split(u';'))
        rig.run(step);
    QCOMPARE(std::exchange(rig.log, {}), effects);
    QCOMPARE(rig.state.DownloadLink, link);
}

void TestDownloadCommand::replies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("peerCloses");
    QTest::addColumn<QStringList>("offered"); // the link's token and title
    QTest::addColumn<QString>("message");     // or part of it

    const auto row = [](const char *name, const QByteArray &reply, bool peerCloses,
                        const QStringList &offered, const QString &message = {}) {
        QTest::newRow(name) << reply << peerCloses << offered << message;
    };
    const QByteArray body = "status=ok&len=10&token=AB%3D&title=My+Clip&x=1";
    const QStringList found{"AB%3D", "My+Clip"};
    const auto coded = [](const QByteArray &coding, const QByteArray &data) {
        return httpReply("Content-Encoding: " + coding + "\r\n", data);
    };
    const QByteArray plain = httpReply("Content-Type: text/plain\r\n", body);
    const QByteArray chunks = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n";
    // Neither has a body, nor ends the connection, whatever its headers say.
    const QByteArray interim = "HTTP/1.1 100 Continue\r\nConnection: close\r\n\r\n"
                               "HTTP/1.1 199 Early\r\nContent-Length: 5\r\n\r\n";
    const QByteArray endlessTrailer = "0\r\nX-Pad: " + QByteArray(70000, ' ') + "x";
    row("content-length, bytes after it left", plain + "status=fail", false, found);
    row("gzip in chunks", chunks + "Content-Encoding: gzip\r\n\r\n" + chunked(gzipped(body), 7),
        false, found);
    row("x-gzip, identity listed, two members",
        coded("identity, x-gzip", gzipped(body.left(20)) + gzipped(body.mid(20))), false, found);
    row("deflate, raw", coded("Deflate", compressed(body, -MAX_WBITS)), false, found);
    row("interim responses skipped", interim + plain, false, found);
    row("body to the close", "HTTP/1.0 200 OK\r\n\r\n" + body.left(body.indexOf("&x")), true,
        found);
    row("64 MiB of gzip from a few KiB",
        coded("gzip", gzipped(QByteArray(64 << 20, '0') + "&token=T&title=Bomb&")), false,
        {"T", "Bomb"});
    row("markers in a header are not scanned",
        httpReply("Set-Cookie: s=1&token=COOKIE&title=c\r\n", body), false, found);
    row("an error page holding the markers", httpReply("", body + "&status=fail", "404 Not Found"),
        false, {}, "answered 404 Not Found instead");
    row("bare text, title open", "&token=T&title=Ti", false, {});
    row("bare text, title runs to the close", "&token=T&title=End\r\n", true, {"T", "End\r\n"});
    row("no title; token kept to 64 KiB", "&token=" + QByteArray(70000, 'T'), true,
        {QString(64 * 1024, u'T'), ""});
    row("title first, first token", "&title=X&y&token=&token=2&", false, {"", "X"});
    row("NUL and high bytes kept", QByteArray("&token=a\0\xff&title=\xe9&", 19), false,
        {u"a\0\u00ff"_s, u"\u00e9"_s});
    row("failure after the link", "&token=T&title=X&status=fail", false, {"T", "X"}, kInvalidVideo);
    row("markers that nearly match", "token=A&Token=B&toke=&status=fai&STATUS=FAIL", true, {},
        "The video site's reply held no video info.");
    const QByteArray location = "http://x.example/?&token=L&title=" + QByteArray(167, '1');
    row("a redirect with markers, a control character, words of 201 and 200 characters",
        httpReply("LOCATION:  " + location + " \r\n", "&token=P&title=P&",
                  "301 Mo\x01ved" + QByteArray(195, 'd')),
        false, {},
        u"answered 301 Mo\ufffdved"_s + QString(194, u'd') + u"... (to "_s
            + QString::fromLatin1(location) + u") instead"_s);
    row("nothing at all", "", true, {}, "closed the connection without answering");
    row("two codings", coded("gzip, deflate", gzipped(body)), false, {}, "as \"gzip, deflate\"");
    row("closed after an interim response", interim, true, {}, "before its reply was complete");
    row("an interim response's body is none",
        "HTTP/1.1 150 X\r\nContent-Length: 17\r\n\r\n&token=A&title=B&" + plain, false, {},
        "not a valid HTTP response");
    row("204 with a length and a coding",
        httpReply("Content-Encoding: gzip\r\n", "0123456789", "204 No Content"), false, {},
        "answered 204 No Content instead");
    row("304 with a length and a coding, and more",
        "HTTP/1.1 304 Not Modified\r\nContent-Encoding: gzip\r\nContent-Length: 1234\r\n\r\n",
        false, {}, "answered 304 Not Modified instead");
    row("a trailer without end", chunks + "\r\n" + endlessTrailer, false, {},
        "has a trailer longer than 64 KiB");
    row("a trailer without end after the link",
        chunks + "\r\n11\r\n&token=T&title=X&\r\n" + endlessTrailer, false, {"T", "X"},
        kDroppedQuietly);
    row("chunk size not hex", chunks + "\r\n5\r\nabcde\r\nzz\r\n", false, {}, "damaged chunked");
    row("gzip cut short", coded("gzip", gzipped("&token=T").chopped(9)), false, {},
        "gzip data is damaged (the data stops short)");
    row("closed before Content-Length", plain.left(plain.indexOf("&x")), true, {},
        "closed the connection before its reply was complete");
    row("two lengths", httpReply("Content-Length: 9\r\n", ""), false, {},
        "Duplicate Content-Length");
    row("head that never ends", "HTTP/1.1 200 OK\r\nX: " + QByteArray(64 * 1024, 'a'), false, {},
        "head longer than 64 KiB");
}

// Each reply whole, cut in two at every byte, and one byte an arrival: the
// link shows once it is whole and never half, a reply without one is
// reported once the socket is closed, and memory stays flat.
void TestDownloadCommand::replies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, peerCloses);
    QFETCH(QStringList, offered);
    QFETCH(QString, message);

    const QString link
        = offered.isEmpty() ? u""_s : expectedDownloadLink("abc", offered[0], offered[1]);
    // A link that comes at all comes at the peer's close, when it closes.
    QStringList expected = (peerCloses ? QStringList{"close"} : QStringList())
                           + (link.isEmpty() ? QStringList() : kOfferEffects)
                           + (message.isEmpty() ? QStringList() : QStringList{"close", "box"});
    if (message == kDroppedQuietly)
        expected.removeLast();
    else if (!link.isEmpty() && !message.isEmpty()) // an invalid video's link goes
        expected.insert(expected.size() - 2, u"hide"_s);
    // The first piece ends at `cut` (when not 0), the rest come `step` bytes
    // at a time.
    const auto mismatch = [&](qsizetype cut, qsizetype step) -> QString {
        const QString way = u"cut at %1, then %2 bytes at a time: "_s.arg(cut).arg(step);
        [[maybe_unused]] const qint64 memory = residentBytes();
        Rig rig;
        rig.run(u"click"_s);
        rig.run(u"connect"_s);
        rig.log.clear();
        for (qsizetype from = 0, end = cut ? cut : step; from < reply.size();
             from = end, end += step) {
            if (rig.log.contains(u"close"_s))
                break; // nothing arrives on a closed socket
            rig.run("data "
                    + QString::fromLatin1(reply.sliced(from, std::min(end, reply.size()) - from)));
            if (!rig.state.DownloadLink.isEmpty() && rig.state.DownloadLink != link)
                return way + u"half link "_s + rig.state.DownloadLink;
        }
#ifndef CORVANE_UNDER_ASAN // which keeps freed memory
        if (residentBytes() - memory > 8 << 20)
            return way + u"memory grew by %1 bytes"_s.arg(residentBytes() - memory);
#endif
        if (peerCloses)
            rig.run(u"peer close"_s);
        for (QString &line : rig.log)
            line = line.startsWith(u"box ") && line.contains(message) ? u"box"_s : line;
        if (rig.log != expected || rig.state.DownloadLink != link)
            return way + u"got %1; link %2"_s.arg(rig.log.join(u" | "), rig.state.DownloadLink);
        return {};
    };
    QString wrong = mismatch(0, 1);
    for (qsizetype cut = 0; wrong.isEmpty() && cut < (reply.size() < 4096 ? reply.size() : 1);
         ++cut)
        wrong = mismatch(cut, reply.size());
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

QTEST_GUILESS_MAIN(TestDownloadCommand)
#include "tst_download_command.moc"
