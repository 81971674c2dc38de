#pragma once

#include <QDesktopServices>
#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QTest>
#include <QUrl>

// Catches, while it lives, the http links the window hands to the system's
// opener.
class LinkCatcher final : public QObject {
    Q_OBJECT

public:
    LinkCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open"); }
    ~LinkCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }

    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

// As a person would: clicks into the text box, types or pastes the link, and
// clicks Download.
inline void pressDownload(QWidget *window, const QString &link, bool typed = false)
{
    auto *box = window->findChild<QLineEdit *>(QStringLiteral("txtRequest"));
    QTest::mouseClick(box, Qt::LeftButton);
    if (typed)
        QTest::keyClicks(box, link);
    else
        box->setText(link);
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
}
