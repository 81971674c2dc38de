#include "download_command.h"
#include "main_window.h"
#include "message_box_watcher.h"
#include "standin_process.h"
#include "window_driver.h"

#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace corvane;

// The real window against the real stand-in on port 80 of localhost: a
// pasted catalog link turns into a link that downloads the video's file.
class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void catalogLinkDownloadsTheVideo_data();
    void catalogLinkDownloadsTheVideo();
    void unknownVideoIsReported();

private:
    void download(const QString &link);

    StandinProcess *standin_ = nullptr;
    Corvane_Downloader *window_ = nullptr;
    std::unique_ptr<LinkCatcher> catcher_;
};

void TestEndToEnd::init()
{
    standin_ = new StandinProcess({}); // its defaults: 127.0.0.1:80 and [::1]:80
    QVERIFY2(standin_->waitUntilListening(), standin_->process.readAllStandardError().constData());
    catcher_ = std::make_unique<LinkCatcher>();
    window_ = new Corvane_Downloader;
    window_->show();
    QVERIFY(QTest::qWaitForWindowActive(window_));
}

void TestEndToEnd::cleanup()
{
    catcher_.reset();
    delete window_;
    delete standin_;
}

void TestEndToEnd::download(const QString &link)
{
    pressDownload(window_, link);
}

void TestEndToEnd::catalogLinkDownloadsTheVideo_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("fileName");

    QTest::newRow("ASCII title") << "http://localhost/watch?v=Demo1Clip01"
                                 << "corvane-demo.webm"
                                 << QByteArray("filename=\"Corvane demo clip.webm\"");
    QTest::newRow("non-ASCII title")
        << "http://localhost/watch?v=CafeParis42&feature=share"
        << "cafe-de-paris.webm" << QByteArray("filename*=UTF-8''Caf%C3%A9%20de%20Paris.webm");
}

void TestEndToEnd::catalogLinkDownloadsTheVideo()
{
    QFETCH(QString, link);
    QFETCH(QString, file);
    QFETCH(QByteArray, fileName);

    download(link);
    auto *label1 = window_->findChild<QLabel *>(QStringLiteral("Label1"));
    QTRY_VERIFY_WITH_TIMEOUT(label1->isVisible(), 5000);
    QCOMPARE(label1->text(), QString(kLinkCaption));
    QTest::mouseClick(label1, Qt::LeftButton);
    QCOMPARE(catcher_->opened.size(), 1);

    QNetworkAccessManager network;
    QNetworkReply *reply = network.get(QNetworkRequest(catcher_->opened[0]));
    QVERIFY(QTest::qWaitFor([reply] { return reply->isFinished(); }, 5000));
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QFile expected(QStringLiteral(CORVANE_STANDIN_CATALOG) + u'/' + file);
    QVERIFY(expected.open(QIODevice::ReadOnly));
    QCOMPARE(reply->readAll(), expected.readAll());
    QVERIFY(reply->rawHeader("Content-Disposition").contains(fileName));
    delete reply;
}

void TestEndToEnd::unknownVideoIsReported()
{
    MessageBoxWatcher boxes;
    download(QStringLiteral("http://localhost/watch?v=NotInCatalog"));
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 5000);
    QCOMPARE(boxes.seen[0].title, QStringLiteral("ERROR"));
    QCOMPARE(boxes.seen[0].text,
             QStringLiteral("Invalid Youtube video, Please check and try again."));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
