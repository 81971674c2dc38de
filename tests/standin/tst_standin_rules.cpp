#include "answer_rows.h"
#include "standin_answer.h"

#include <QTest>

using namespace standin;

const RowValues kValues{"/download/index.php?id=x", "\"2a-3e8-ae1b981bc490a05\"", kModified, 1000};

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
        QCOMPARE(answerTo(request, cut, request.size()).bytes, bytes);
}

QTEST_GUILESS_MAIN(TestStandinRules)
#include "tst_standin_rules.moc"
