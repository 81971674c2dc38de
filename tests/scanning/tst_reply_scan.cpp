#include "expected.h"
#include "reply_scan.h"
#include "scan_oracle.h"

#include <QRandomGenerator>
#include <QTest>

using namespace corvane;
using namespace Qt::StringLiterals;

namespace {

// Feeds the reply cut at the given positions. Whenever the scanner calls the
// link whole, it must be the whole reply's link: no half link, ever.
bool feedInPieces(const QByteArray &reply, const QList<qsizetype> &cuts, const ScanOutcome &whole,
                  const QString &videoId)
{
    ReplyScanner scanner;
    qsizetype from = 0;
    QList<qsizetype> ends = cuts;
    ends << reply.size();
    for (qsizetype end : ends) {
        scanner.Feed(QByteArrayView(reply).sliced(from, end - from));
        if (scanner.linkWhole() && scanner.Link(videoId) != whole.link)
            return false;
        from = end;
    }
    scanner.End();
    return scanner.linkWhole() == whole.tokenFound
           && (!whole.tokenFound || scanner.Link(videoId) == whole.link)
           && scanner.failFound() == whole.failFound;
}

} // namespace

class TestReplyScan : public QObject {
    Q_OBJECT

private slots:
    void scanArrival_data();
    void scanArrival();
    void piecesGiveTheWholeReplysOutcome_data();
    void piecesGiveTheWholeReplysOutcome();
    void linkIsWholeOnlyOnceItsEndsHaveCome_data();
    void linkIsWholeOnlyOnceItsEndsHaveCome();
    void fieldsAreCutAtTheLimit();
};

void TestReplyScan::scanArrival_data()
{
    QTest::addColumn<QString>("arrival");
    QTest::addColumn<bool>("tokenFound");
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("failFound");

    QTest::newRow("token and title, escapes kept")
        << "status=ok&token=AB%3D&title=My+Clip&length_seconds=10" << true
        << expectedDownloadLink("abc123", "AB%3D", "My+Clip") << false;
    QTest::newRow("no title: link ends with &n=")
        << "status=ok&token=AB" << true << expectedDownloadLink("abc123", "AB", "") << false;
    QTest::newRow("empty token before &")
        << "x&token=&title=T" << true << expectedDownloadLink("abc123", "", "T") << false;
    QTest::newRow("empty token at the end")
        << "x&token=" << true << expectedDownloadLink("abc123", "", "") << false;
    QTest::newRow("title before token") << "&title=First&x=1&token=TK" << true
                                        << expectedDownloadLink("abc123", "TK", "First") << false;
    QTest::newRow("title runs to the end with line ends")
        << "HTTP/1.1 200 OK\r\n\r\nstatus=ok&token=T&title=End\r\n\r\n"
        << true << expectedDownloadLink("abc123", "T", "End\r\n\r\n") << false;
    QTest::newRow("first token wins")
        << "&token=one&token=two" << true << expectedDownloadLink("abc123", "one", "") << false;
    QTest::newRow("token= at the start is no marker") << "token=AB&title=T" << false << "" << false;
    QTest::newRow("marker case matters") << "&Token=AB&TITLE=T STATUS=FAIL" << false << "" << false;
    QTest::newRow("failure") << "status=fail&errorcode=150&reason=Invalid+id" << false << ""
                             << true;
    QTest::newRow("token and failure both") << "status=fail&token=T&title=X" << true
                                            << expectedDownloadLink("abc123", "T", "X") << true;
    QTest::newRow("failure marker inside a title counts")
        << "&token=T&title=astatus=failb" << true
        << expectedDownloadLink("abc123", "T", "astatus=failb") << true;
    QTest::newRow("neither: an error page")
        << "HTTP/1.1 404 Not Found\r\n\r\n<html>" << false << "" << false;
    QTest::newRow("NUL and high bytes are kept")
        << QString::fromLatin1("&token=a\0\xff\x80&title=\xe9", 19) << true
        << expectedDownloadLink("abc123", QString::fromLatin1("a\0\xff\x80", 4),
                                QString::fromLatin1("\xe9"))
        << false;
}

void TestReplyScan::scanArrival()
{
    QFETCH(QString, arrival);
    QFETCH(bool, tokenFound);
    QFETCH(QString, link);
    QFETCH(bool, failFound);

    const ScanOutcome outcome = ScanArrival(arrival, QStringLiteral("abc123"));
    QCOMPARE(outcome.tokenFound, tokenFound);
    QCOMPARE(outcome.link, link);
    QCOMPARE(outcome.failFound, failFound);
}

void TestReplyScan::piecesGiveTheWholeReplysOutcome_data()
{
    QTest::addColumn<QString>("reply");

    QTest::newRow("real-looking reply")
        << "HTTP/1.1 200 OK\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n"
           "status=ok&length_seconds=10&token=vjVQa1PpcFN%3D&thumbnail_url=x&title=My+Clip"
           "&video_id=abc";
    QTest::newRow("title before token, token to the end") << "a&title=T%C3%A9&b=1&token=XYZ";
    QTest::newRow("failure") << "status=fail&errorcode=150&reason=Not+found";
    QTest::newRow("failure inside the token") << "&token=xstatus=failx&title=t";
    QTest::newRow("markers that nearly match") << "&token&toke=&title&status=fai&token=ok";
    QTest::newRow("repeated markers") << "&token=&token=2&title=&title=2status=failstatus=fail";
}

// Every cut into two pieces, one byte per arrival, and random cuts give the
// whole reply's outcome, and never a link before it is whole.
void TestReplyScan::piecesGiveTheWholeReplysOutcome()
{
    QFETCH(QString, reply);
    const QString videoId = QStringLiteral("vid");
    const ScanOutcome whole = scanOracle(reply, videoId);
    const ScanOutcome scanned = ScanArrival(reply, videoId);
    QCOMPARE(scanned.tokenFound, whole.tokenFound);
    QCOMPARE(scanned.link, whole.link);
    QCOMPARE(scanned.failFound, whole.failFound);

    const QByteArray bytes = reply.toLatin1();
    QList<qsizetype> everyByte;
    for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
        QVERIFY2(feedInPieces(bytes, {cut}, whole, videoId), qPrintable(u"cut at %1"_s.arg(cut)));
        if (cut > 0 && cut < bytes.size())
            everyByte << cut;
    }
    QVERIFY(feedInPieces(bytes, everyByte, whole, videoId));

    QRandomGenerator random(20261206);
    for (int round = 0; round < 200; ++round) {
        QList<qsizetype> cuts;
        for (qsizetype i = 1; i < bytes.size(); ++i) {
            if (random.bounded(4) == 0)
                cuts << i;
        }
        QVERIFY2(feedInPieces(bytes, cuts, whole, videoId), qPrintable(u"round %1"_s.arg(round)));
    }
}

void TestReplyScan::linkIsWholeOnlyOnceItsEndsHaveCome_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    // Whether the link is whole after each piece, then after the end.
    QTest::addColumn<QList<bool>>("whole");
    QTest::addColumn<QString>("link");

    QTest::newRow("title completes later")
        << QByteArrayList{"status=ok&token=AB", "C&title=Par", "t+Two&more=1", "&title=ignored"}
        << QList<bool>{false, false, true, true, true}
        << expectedDownloadLink("v", "ABC", "Part+Two");
    QTest::newRow("no title: whole at the end")
        << QByteArrayList{"&token=AB&x=1", "&y=2"} << QList<bool>{false, false, true}
        << expectedDownloadLink("v", "AB", "");
    QTest::newRow("open title ends with the reply")
        << QByteArrayList{"&token=T&title=Ti", "tle"} << QList<bool>{false, false, true}
        << expectedDownloadLink("v", "T", "Title");
    QTest::newRow("open token ends with the reply")
        << QByteArrayList{"&title=X&token=T"} << QList<bool>{false, true}
        << expectedDownloadLink("v", "T", "X");
    QTest::newRow("empty token, whole at once")
        << QByteArrayList{"&title=X&token=&"} << QList<bool>{true, true}
        << expectedDownloadLink("v", "", "X");
    QTest::newRow("no token") << QByteArrayList{"&title=X&", "status=ok"}
                              << QList<bool>{false, false, false} << "";
}

void TestReplyScan::linkIsWholeOnlyOnceItsEndsHaveCome()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QList<bool>, whole);
    QFETCH(QString, link);

    ReplyScanner scanner;
    for (qsizetype i = 0; i <= pieces.size(); ++i) {
        if (i < pieces.size())
            scanner.Feed(pieces[i]);
        else
            scanner.End();
        QVERIFY2(scanner.linkWhole() == whole[i], qPrintable(u"after piece %1"_s.arg(i)));
    }
    QCOMPARE(scanner.linkWhole() ? scanner.Link(u"v") : QString(), link);

    // A fresh reply forgets everything of the last one.
    scanner.Reset();
    scanner.Feed("status=fail");
    QVERIFY(scanner.failFound());
    QVERIFY(!scanner.linkWhole());
}

void TestReplyScan::fieldsAreCutAtTheLimit()
{
    const QString longToken(kMaxFieldLength + 5000, u'T');
    const QString longTitle(kMaxFieldLength + 1, u'n');
    const QString reply = "&token=" + longToken + "&title=" + longTitle + "&x=status=fail";
    const ScanOutcome whole = scanOracle(reply, u"v"_s);
    QCOMPARE(whole.link.size(), expectedDownloadLink("v", "", "").size() + 2 * kMaxFieldLength);

    QList<qsizetype> cuts;
    for (qsizetype at = 1000; at < reply.size(); at += 4093)
        cuts << at;
    QVERIFY(feedInPieces(reply.toLatin1(), cuts, whole, u"v"_s));
}

QTEST_GUILESS_MAIN(TestReplyScan)
#include "tst_reply_scan.moc"
