#include "expected.h"
#include "link_parsing.h"

#include <QTest>

using namespace corvane;

class TestLinkParsing : public QObject {
    Q_OBJECT

private slots:
    void splitPiece_data();
    void splitPiece();
    void parseVideoLink_data();
    void parseVideoLink();
    void composeInfoRequest_data();
    void composeInfoRequest();
};

void TestLinkParsing::splitPiece_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("piece");

    QTest::newRow("no delimiter: whole text is piece 0") << "abc"
                                                         << "v=" << 0 << "abc";
    QTest::newRow("piece 0 before the first") << "a/b/c"
                                              << "/" << 0 << "a";
    QTest::newRow("piece 1 between first and second") << "a/b/c"
                                                      << "/" << 1 << "b";
    QTest::newRow("last piece after the last") << "a/b/c"
                                               << "/" << 2 << "c";
    QTest::newRow("empty last piece") << "a/b/"
                                      << "/" << 2 << "";
    QTest::newRow("empty piece 0") << "/a"
                                   << "/" << 0 << "";
    QTest::newRow("adjacent delimiters give an empty piece") << "a//b"
                                                             << "/" << 1 << "";
    QTest::newRow("multi-character delimiter") << "x://y://z"
                                               << "://" << 1 << "y";
    QTest::newRow("no overlap: aaa cut at aa") << "aaab"
                                               << "aa" << 1 << "ab";
    QTest::newRow("case-sensitive") << "aV=b"
                                    << "v=" << 0 << "aV=b";
    QTest::newRow("missing piece is empty") << "a/b"
                                            << "/" << 5 << "";
}

void TestLinkParsing::splitPiece()
{
    QFETCH(QString, text);
    QFETCH(QString, delimiter);
    QFETCH(int, n);
    QFETCH(QString, piece);
    QCOMPARE(SplitPiece(text, delimiter, n), piece);
}

void TestLinkParsing::parseVideoLink_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("requestLink");
    QTest::addColumn<QString>("videoId");
    QTest::addColumn<QString>("host");

    const QString empty = kEmptyLinkMessage;
    const QString invalid = kInvalidLinkMessage;
    const QString none;

    QTest::newRow("empty") << "" << empty << QString() << none << none;
    QTest::newRow("placeholder") << "Type in Youtube video link" << empty << QString() << none
                                 << none;
    QTest::newRow("placeholder in other case")
        << "type in youtube video link" << invalid << "type in youtube video link" << none << none;
    QTest::newRow("blanks are not empty") << "   " << invalid << "   " << none << none;
    QTest::newRow("capital V= is no id") << "http://site.example/watch?V=abc" << invalid
                                         << "http://site.example/watch?V=abc" << none << none;
    QTest::newRow("id runs on past & to the end")
        << "http://site.example/watch?v=abc123&feature=related" << none
        << "site.example/watch?v=abc123&feature=related"
        << "abc123&feature=related"
        << "site.example";
    QTest::newRow("no scheme") << "site.example/watch?v=abc" << none << "site.example/watch?v=abc"
                               << "abc"
                               << "site.example";
    QTest::newRow("no slash: the host is the whole text")
        << "site.example?v=abc" << none << "site.example?v=abc"
        << "abc"
        << "site.example?v=abc";
    QTest::newRow("https is dropped the same way")
        << "https://site.example/watch?v=abc" << none << "site.example/watch?v=abc"
        << "abc"
        << "site.example";
    QTest::newRow("port suffix stays in the host")
        << "http://site.example:8080/watch?v=abc" << none << "site.example:8080/watch?v=abc"
        << "abc"
        << "site.example:8080";
    QTest::newRow("id cut at the second v=")
        << "http://site.example/watch?v=abc&nv=1" << none << "site.example/watch?v=abc&nv=1"
        << "abc&n"
        << "site.example";
    QTest::newRow("empty id") << "http://site.example/watch?v=" << none << "site.example/watch?v="
                              << ""
                              << "site.example";
    QTest::newRow("empty host") << "http:///watch?v=abc" << none << "/watch?v=abc"
                                << "abc"
                                << "";
    QTest::newRow("v= inside the scheme counts") << "v=x://h/p" << none << "h/p"
                                                 << "x://h/p"
                                                 << "h";
    QTest::newRow("only the first :// is cut") << "a://b://c/watch?v=1" << none << "b"
                                               << "1"
                                               << "b";
    QTest::newRow("fragment kept in id") << "http://h/watch?v=ab#t=1" << none << "h/watch?v=ab#t=1"
                                         << "ab#t=1"
                                         << "h";
    QTest::newRow("characters beyond Latin-1 pass through")
        << QString::fromUtf8("http://h\u00e9/watch?v=\u4e2d") << none
        << QString::fromUtf8("h\u00e9/watch?v=\u4e2d") << QString::fromUtf8("\u4e2d")
        << QString::fromUtf8("h\u00e9");
}

void TestLinkParsing::parseVideoLink()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    QFETCH(QString, requestLink);
    QFETCH(QString, videoId);
    QFETCH(QString, host);

    const ParsedLink parsed = ParseVideoLink(text);
    QCOMPARE(parsed.error, error);
    QCOMPARE(parsed.ok(), error.isEmpty());
    QCOMPARE(parsed.RequestLink.isNull(), requestLink.isNull());
    QCOMPARE(parsed.RequestLink, requestLink);
    QCOMPARE(parsed.VideoId, videoId);
    QCOMPARE(parsed.host, host);
}

void TestLinkParsing::composeInfoRequest_data()
{
    QTest::addColumn<QString>("videoId");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QByteArray>("videoIdOnWire");
    QTest::addColumn<QByteArray>("hostOnWire");

    QTest::newRow("plain") << "abc123"
                           << "site.example" << QByteArray("abc123") << QByteArray("site.example");
    QTest::newRow("id with & and host with port, unescaped")
        << "abc123&feature=related"
        << "site.example:8080" << QByteArray("abc123&feature=related")
        << QByteArray("site.example:8080");
    QTest::newRow("empty id and host") << ""
                                       << "" << QByteArray() << QByteArray();
    QTest::newRow("spaces and percent signs go as they are")
        << "a b%20c"
        << "h" << QByteArray("a b%20c") << QByteArray("h");
    QTest::newRow("Latin-1 is one byte, beyond it '?'")
        << QString::fromUtf8("\u00e9\u4e2d") << QString::fromUtf8("h\u00ff") << QByteArray("\xe9?")
        << QByteArray("h\xff");
    QTest::newRow("CR LF in the id is not escaped")
        << "a\r\nX: y"
        << "h" << QByteArray("a\r\nX: y") << QByteArray("h");
}

void TestLinkParsing::composeInfoRequest()
{
    QFETCH(QString, videoId);
    QFETCH(QString, host);
    QFETCH(QByteArray, videoIdOnWire);
    QFETCH(QByteArray, hostOnWire);
    QCOMPARE(ComposeInfoRequest(videoId, host).toLatin1(),
             expectedInfoRequest(videoIdOnWire, hostOnWire));
}

QTEST_GUILESS_MAIN(TestLinkParsing)
#include "tst_link_parsing.moc"
