#include "constants.h"
#include "download_url.h"

#include <QTest>

using namespace corvane;

class TestDownloadUrl : public QObject {
    Q_OBJECT

private slots:
    void bytesKeepTheirOwnEscapes_data();
    void bytesKeepTheirOwnEscapes();
    void foreignLinksAreNotOpened_data();
    void foreignLinksAreNotOpened();
};

void TestDownloadUrl::bytesKeepTheirOwnEscapes_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QByteArray>("encoded");

    QTest::newRow("plain") << "v=abc&id=AB%3D&n=My+Clip" << QByteArray("v=abc&id=AB%3D&n=My+Clip");
    QTest::newRow("Latin-1 byte is its own escape")
        << QString::fromLatin1("n=Caf\xe9") << QByteArray("n=Caf%E9");
    QTest::newRow("high and low bytes")
        << QString::fromLatin1("n=\x80\xff\x7f\x01", 6) << QByteArray("n=%80%FF%7F%01");
    QTest::newRow("NUL, CR and LF")
        << QString::fromLatin1("n=a\0b\r\nc", 8) << QByteArray("n=a%00b%0D%0Ac");
    QTest::newRow("a lone percent sign") << "id=50%&n=%z1%4" << QByteArray("id=50%25&n=%25z1%254");
    QTest::newRow("characters no URL holds as they are")
        << "n=a b\"<>\\^`{|}[]#" << QByteArray("n=a%20b%22%3C%3E%5C%5E%60%7B%7C%7D%5B%5D%23");
    QTest::newRow("beyond Latin-1 goes as '?'")
        << QString::fromUtf8("n=\u4e2d") << QByteArray("n=?");
    QTest::newRow("delimiters stay") << "v=a/b?c:d@e!$'()*,;" << QByteArray("v=a/b?c:d@e!$'()*,;");
}

void TestDownloadUrl::bytesKeepTheirOwnEscapes()
{
    QFETCH(QString, query);
    QFETCH(QByteArray, encoded);

    const QString link
        = QStringLiteral("http://%1/download/index.php?").arg(kLinkServiceHost) + query;
    const QUrl url = DownloadUrl(link);
    QVERIFY(url.isValid());
    QCOMPARE(url.scheme(), QStringLiteral("http"));
    QCOMPARE(url.host(), QString(kLinkServiceHost));
    QCOMPARE(url.toEncoded(), "http://"
                                  + QByteArray(kLinkServiceHost.data(), kLinkServiceHost.size())
                                  + "/download/index.php?" + encoded);
}

void TestDownloadUrl::foreignLinksAreNotOpened_data()
{
    QTest::addColumn<QString>("link");
    QTest::newRow("empty") << "";
    QTest::newRow("another host") << "http://elsewhere.example/download/index.php?v=a";
    QTest::newRow("host as a prefix of another")
        << QStringLiteral("http://%1.elsewhere.example/x").arg(kLinkServiceHost);
    QTest::newRow("another scheme") << QStringLiteral("file://%1/etc/passwd").arg(kLinkServiceHost);
}

void TestDownloadUrl::foreignLinksAreNotOpened()
{
    QFETCH(QString, link);
    QVERIFY(DownloadUrl(link).isEmpty());
}

QTEST_GUILESS_MAIN(TestDownloadUrl)
#include "tst_download_url.moc"
