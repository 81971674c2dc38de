#include "expected.h"
#include "reply_scan.h"

#include <QRandomGenerator>
#include <QTest>

using namespace corvane;
using namespace Qt::StringLiterals;

namespace {

struct Totals {
    QString link;
    bool tokenFound = false;
    int failReports = 0;
};

// Feeds the reply cut at the given positions and gathers what was reported.
Totals feedInPieces(const QString &reply, const QList<qsizetype> &cuts, const QString &videoId)
{
    ReplyScanner scanner;
    Totals totals;
    qsizetype from = 0;
    QList<qsizetype> ends = cuts;
    ends << reply.size();
    for (qsizetype end : ends) {
        const ScanOutcome outcome
            = scanner.Feed(QStringView(reply).sliced(from, end - from), videoId);
        if (outcome.tokenFound) {
            totals.tokenFound = true;
            totals.link = outcome.link;
        } else if (totals.tokenFound) {
            totals.tokenFound = false; // a token, once found, must stay found
            break;
        }
        totals.failReports += outcome.failFound ? 1 : 0;
        from = end;
    }
    return totals;
}

} // namespace

class TestReplyScan : public QObject {
    Q_OBJECT

private slots:
    void scanArrival_data();
    void scanArrival();
    void piecesGiveTheWholeReplysOutcome_data();
    void piecesGiveTheWholeReplysOutcome();
    void laterArrivalCompletesTitle();
    void failIsReportedOnce();
    void fieldsAreCutAtTheLimit();
    void resetForgetsTheReply();
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

// Every cut into two pieces, one character per arrival, and random cuts: the
// link and the failure report are those of the whole reply in one arrival.
void TestReplyScan::piecesGiveTheWholeReplysOutcome()
{
    QFETCH(QString, reply);
    const QString videoId = QStringLiteral("vid");
    const ScanOutcome whole = ScanArrival(reply, videoId);
    const int wholeFails = whole.failFound ? 1 : 0;

    for (qsizetype cut = 0; cut <= reply.size(); ++cut) {
        const Totals t = feedInPieces(reply, {cut}, videoId);
        QVERIFY2(t.tokenFound == whole.tokenFound && t.link == whole.link
                     && t.failReports == wholeFails,
                 qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }

    QList<qsizetype> everyCharacter;
    for (qsizetype i = 1; i < reply.size(); ++i)
        everyCharacter << i;
    const Totals single = feedInPieces(reply, everyCharacter, videoId);
    QCOMPARE(single.link, whole.link);
    QCOMPARE(single.failReports, wholeFails);

    QRandomGenerator random(20261206);
    for (int round = 0; round < 200; ++round) {
        QList<qsizetype> cuts;
        for (qsizetype i = 1; i < reply.size(); ++i) {
            if (random.bounded(4) == 0)
                cuts << i;
        }
        const Totals t = feedInPieces(reply, cuts, videoId);
        QVERIFY2(t.link == whole.link && t.failReports == wholeFails,
                 qPrintable(QStringLiteral("round %1").arg(round)));
    }
}

void TestReplyScan::laterArrivalCompletesTitle()
{
    ReplyScanner scanner;
    ScanOutcome outcome = scanner.Feed(u"status=ok&token=AB", u"v"_s);
    QCOMPARE(outcome.link, expectedDownloadLink("v", "AB", ""));
    outcome = scanner.Feed(u"C&title=Par", u"v"_s);
    QCOMPARE(outcome.link, expectedDownloadLink("v", "ABC", "Par"));
    outcome = scanner.Feed(u"t+Two&more=1", u"v"_s);
    QCOMPARE(outcome.link, expectedDownloadLink("v", "ABC", "Part+Two"));
    outcome = scanner.Feed(u"&title=ignored", u"v"_s);
    QVERIFY(outcome.tokenFound);
    QCOMPARE(outcome.link, expectedDownloadLink("v", "ABC", "Part+Two"));
}

void TestReplyScan::failIsReportedOnce()
{
    ReplyScanner scanner;
    QVERIFY(!scanner.Feed(u"status=fa", u"v"_s).failFound);
    QVERIFY(scanner.Feed(u"il&status=fail", u"v"_s).failFound);
    QVERIFY(!scanner.Feed(u"status=fail", u"v"_s).failFound);
}

void TestReplyScan::fieldsAreCutAtTheLimit()
{
    const QString longToken(kMaxFieldLength + 5000, u'T');
    const QString longTitle(kMaxFieldLength + 1, u'n');
    const QString reply = "&token=" + longToken + "&title=" + longTitle + "&x=status=fail";

    const ScanOutcome whole = ScanArrival(reply, u"v"_s);
    QCOMPARE(whole.link, expectedDownloadLink("v", longToken.left(kMaxFieldLength),
                                              longTitle.left(kMaxFieldLength)));
    QVERIFY(whole.failFound);

    QList<qsizetype> cuts;
    for (qsizetype at = 1000; at < reply.size(); at += 4093)
        cuts << at;
    const Totals pieces = feedInPieces(reply, cuts, u"v"_s);
    QCOMPARE(pieces.link, whole.link);
    QCOMPARE(pieces.failReports, 1);
}

void TestReplyScan::resetForgetsTheReply()
{
    ReplyScanner scanner;
    QVERIFY(scanner.Feed(u"&token=old&title=Old status=fail", u"v"_s).failFound);
    scanner.Reset();
    const ScanOutcome outcome = scanner.Feed(u"status=fail", u"w"_s);
    QVERIFY(!outcome.tokenFound);
    QVERIFY(outcome.failFound);
    QCOMPARE(scanner.Feed(u"&token=new", u"w"_s).link, expectedDownloadLink("w", "new", ""));
}

QTEST_GUILESS_MAIN(TestReplyScan)
#include "tst_reply_scan.moc"
