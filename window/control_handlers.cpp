// The handlers of the window's controls that are the window's own: the text
// box taking the focus, and a click on the link label. The Download button's
// and the socket's are the Download command's.
#include "download_url.h"
#include "main_window.h"
#include "platform.h"

#include <QLineEdit>

namespace corvane {

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
