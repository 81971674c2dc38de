#include "answer_composition.h"
#include "answer_rows.h"
#include "request_parser.h"

#include <QTest>

using namespace standin;

namespace {

// A file of 1000 bytes last changed on Sun, 06 Nov 1994 08:49:37.000000005 GMT.
const FileFacts kFile{1000, 0x2a, 784111777, 5};
const QDateTime kModified = QDateTime::fromSecsSinceEpoch(784111777, Qt::UTC);
const RowValues kValues{"/download/index.php?id=x", "\"2a-3e8-ae1b981bc490a05\"", kModified, 1000};

// What a request was read as: its path, then "?NAME=VALUE" and fields but Host, sorted.
QByteArray describe(const HttpRequest &request)
{
    QByteArrayList words;
    for (auto it = request.query.cbegin(); it != request.query.cend(); ++it)
        words << '?' + it.key() + '=' + it.value();
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it) {
        if (it.key() != "host")
            words << it.key() + ": " + it.value();
    }
    std::sort(words.begin(), words.end());
    return (request.path + ' ' + words.join(' ')).trimmed();
}

// The stand-in's answer to bytes, as a connection gives it: parsed, decided,
// and served with kFile as the download, an info with validators, or 404
// with X-Request saying what the request was read as. The bytes come in
// pieces: the first ends at cut (when not 0), the rest come step at a time.
ComposedAnswer answerTo(const QByteArray &bytes, qsizetype cut, qsizetype step)
{
    RequestParser parser;
    auto result = RequestParser::Result::Partial;
    for (qsizetype from = 0, end = cut ? cut : step;
         result == RequestParser::Result::Partial && from < bytes.size(); from = end, end += step) {
        qsizetype taken = 0;
        const QByteArray piece = bytes.sliced(from, std::min(end, bytes.size()) - from);
        result = parser.parse(piece.data(), piece.size(), taken);
    }
    RequestDecision decision{RequestDecision::Verdict::Refuse, parser.refusal(), {}, {}, {}};
    if (result == RequestParser::Result::Complete || result == RequestParser::Result::Upgrade)
        decision = decideRequest(parser.takeRequest(), QHostAddress::LocalHost, 80);
    const bool refused = decision.verdict == RequestDecision::Verdict::Refuse;
    const bool close = refused || result == RequestParser::Result::Upgrade || !parser.keepsAlive();
    const HttpRequest &request = refused ? HttpRequest() : decision.request;
    const bool download = request.path == "/download/index.php";
    HttpResponse response = errorPage(decision.status, {});
    response.headers = decision.headers;
    if (decision.verdict == RequestDecision::Verdict::Serve) {
        response = download ? HttpResponse() : errorPage(404, {});
        response.headers = {{"X-Request", describe(request)}};
    }
    if (request.path == "/get_video_info") {
        response = HttpResponse();
        response.etag = "\"i\"";
        response.lastModified = kModified;
    }
    return composeAnswer(response, download ? &kFile : nullptr, request, close, "D");
}

} // namespace

class TestStandinRules : public QObject {
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
};

void TestStandinRules::answers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    for (const AnswerRow &row : kAnswerRows)
        QTest::newRow(row.name) << fillIn(row.request, kValues) << fillIn(row.answer, kValues);
}

void TestStandinRules::answers()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);

    const bool headOnly = request.startsWith("HEAD");
    const ComposedAnswer composed = answerTo(request, 0, request.size());
    const QByteArray bytes = composed.bytes;
    QCOMPARE(answerMisses(bytes, answer), QByteArray());
    // No file but in 200 and 206 to GET; the head alone for 304 and HEAD.
    QCOMPARE(composed.sendsFile, composed.status < 300 && !headOnly);
    QCOMPARE(bytes.endsWith("\r\n\r\n"), composed.status == 304 || headOnly || composed.sendsFile);
    // The same answer however the request is cut: a byte at a time, in two at every byte.
    QCOMPARE(answerTo(request, 0, 1).bytes, bytes);
    for (qsizetype cut = 1; cut < request.size(); ++cut)
        QVERIFY2(answerTo(request, cut, request.size()).bytes == bytes,
                 qPrintable(QString::number(cut)));
}

QTEST_GUILESS_MAIN(TestStandinRules)
#include "tst_standin_rules.moc"
