#include "download_command.h"

#include "constants.h"
#include "link_parsing.h"
#include "socket.h"
#include "window_operations.h"

namespace corvane {

DownloadCommand::DownloadCommand(DownloadState &state, Socket &socket, WindowOperations &window,
                                 QObject *parent)
    : QObject(parent)
    , state_(state)
    , socket_(socket)
    , window_(window)
{
    connect(&socket_, &Socket::ConnectEvent, this, &DownloadCommand::Winsock_Connect);
    connect(&socket_, &Socket::CloseEvent, this, &DownloadCommand::Winsock_Close);
    connect(&socket_, &Socket::ErrorEvent, this, &DownloadCommand::Winsock_Error);
    connect(&socket_, &Socket::DataArrivalEvent, this, &DownloadCommand::Winsock_DataArrival);
}

void DownloadCommand::Command1_Click()
{
    socket_.Close();
    pendingRequest_.reset();
    scanner_.Reset();
    window_.SetLinkVisible(false);
    state_.Connected = false;

    const ParsedLink parsed = ParseVideoLink(window_.RequestText());
    if (!parsed.RequestLink.isNull())
        state_.RequestLink = parsed.RequestLink;
    if (!parsed.ok()) {
        window_.ShowErrorBox(parsed.error);
        return;
    }
    state_.VideoId = parsed.VideoId;

    // The request waits here until the socket reports the connection; it is
    // sent by Winsock_Connect, or dropped when the connection ends first.
    pendingRequest_ = ComposeInfoRequest(parsed.VideoId, parsed.host);
    window_.SetStatusCaption(kWaitingCaption);
    socket_.Connect(parsed.host, kRemotePort);
}

void DownloadCommand::Winsock_Connect()
{
    state_.Connected = true;
    if (pendingRequest_) {
        socket_.SendData(*pendingRequest_);
        pendingRequest_.reset();
    }
}

void DownloadCommand::Winsock_Close()
{
    state_.Connected = false;
    pendingRequest_.reset();
    socket_.Close();
}

void DownloadCommand::Winsock_Error(int Number, const QString &Description)
{
    Q_UNUSED(Number);
    // Closed before the box shows, so that nothing of this connection runs
    // while the box waits for the user.
    pendingRequest_.reset();
    socket_.Close();
    window_.ShowErrorBox(Description);
}

void DownloadCommand::Winsock_DataArrival(qint64 bytesTotal)
{
    const QString arrival = socket_.GetData(bytesTotal);
    const ScanOutcome outcome = scanner_.Feed(arrival, state_.VideoId);
    if (outcome.tokenFound) {
        window_.SetStatusCaption(kLinkFoundCaption);
        window_.SetLinkVisible(true);
        state_.DownloadLink = outcome.link;
        window_.SetLinkCaption(kLinkCaption);
        state_.Connected = false;
    }
    if (outcome.failFound) {
        state_.Connected = false;
        socket_.Close();
        window_.ShowErrorBox(kInvalidVideoMessage);
    }
}

} // namespace corvane
