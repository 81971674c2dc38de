// The window's own handlers: start-up, shut-down, the text box's focus and
// the link label.
#include "download_url.h"
#include "main_window.h"
#include "platform.h"
#include "style.h"

#include <QLineEdit>
#include <QPushButton>

namespace corvane {

LifecycleCalls LifecycleCalls::platform()
{
    return {&style::InitStyles, &platform::SuppressFaultDialog};
}

void Corvane_Downloader::Form_Initialize()
{
    calls_.InitStyles();
}

void Corvane_Downloader::Form_Load()
{
    // The window opens with Download focused; the download state starts
    // empty.
    Command1->setFocus();
}

void Corvane_Downloader::Form_Unload()
{
    // Through the command, so that the request it holds and the reply's
    // time-out go with the connection.
    command_->CloseSocket();
}

void Corvane_Downloader::Form_Terminate()
{
    calls_.SuppressFaultDialog();
}

void Corvane_Downloader::txtRequest_GotFocus()
{
    txtRequest->setText(QString());
}

void Corvane_Downloader::Label1_Click()
{
    const QByteArray link = DownloadUrl(state_.DownloadLink);
    if (link.isEmpty())
        return;
    const QString failure = platform::OpenLinkMaximized(link);
    if (!failure.isEmpty())
        ShowErrorBox(failure);
}

} // namespace corvane
