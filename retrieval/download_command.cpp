#include "download_command.h"

#include "constants.h"
#include "link_parsing.h"
#include "messages.h"
#include "peer_text.h"
#include "socket.h"
#include "window_operations.h"

namespace corvane {

namespace {

// What to tell the user about a reply that ended with neither a token nor
// the failure marker.
QString DescribeReplyWithoutInfo(const ReplyReader &reader)
{
    if (!reader.started())
        return kClosedWithoutAnswerMessage;
    const int status = reader.statusCode();
    // 204 says outright that nothing came.
    if (!reader.isHttp() || (status >= 200 && status < 300 && status != 204))
        return kNoVideoInfoMessage;

    // The status and, for a redirect, where it points.
    const bool redirect = status >= 300 && status < 400;
    return AnsweredInsteadMessage(status, PeerText(reader.reason()),
                                  redirect ? PeerText(reader.location()) : QString());
}

} // namespace

DownloadCommand::DownloadCommand(DownloadState &state, Socket &socket, WindowOperations &window,
                                 QObject *parent)
    : QObject(parent)
    , state_(state)
    , socket_(socket)
    , window_(window)
    , reader_([this](QByteArrayView piece) { scanner_.Feed(piece); })
{
    replyTimer_.setSingleShot(true);
    replyTimer_.setInterval(kDefaultReplyTimeout);
    connect(&replyTimer_, &QTimer::timeout, this, &DownloadCommand::onReplyTimeout);
    connect(&socket_, &Socket::ConnectEvent, this, &DownloadCommand::Winsock_Connect);
    connect(&socket_, &Socket::CloseEvent, this, &DownloadCommand::Winsock_Close);
    connect(&socket_, &Socket::ErrorEvent, this, &DownloadCommand::Winsock_Error);
    connect(&socket_, &Socket::DataArrivalEvent, this, &DownloadCommand::Winsock_DataArrival);
}

void DownloadCommand::Command1_Click()
{
    abandonConnection();
    scanner_.Reset();
    reader_.Reset();
    window_.SetLinkVisible(false);

    const ParsedLink parsed = ParseVideoLink(window_.RequestText());
    if (!parsed.ok()) {
        window_.ShowErrorBox(parsed.error);
        return;
    }
    state_.VideoId = parsed.VideoId;

    // The request waits here until the socket reports the connection; it is
    // sent by Winsock_Connect, or dropped when the connection ends first.
    pendingRequest_ = ComposeInfoRequest(parsed.VideoId, parsed.host);
    window_.SetStatusCaption(kWaitingCaption);
    socket_.Connect(parsed.address, kRemotePort);
}

void DownloadCommand::Winsock_Connect()
{
    if (pendingRequest_) {
        socket_.SendData(*pendingRequest_);
        pendingRequest_.reset();
        awaitingReply_ = true;
        replyTimer_.start();
    }
}

void DownloadCommand::Winsock_Close()
{
    pendingRequest_.reset();
    socket_.Close();
    if (awaitingReply_) {
        if (reader_.Finish() == ReplyReader::State::Ended)
            scanner_.End();
        settleReply();
    }
}

void DownloadCommand::Winsock_Error(int Number, const QString &Description)
{
    Q_UNUSED(Number);
    // Closed before the box shows, so that nothing of this connection runs
    // while the box waits for the user.
    abandonConnection();
    window_.ShowErrorBox(Description);
}

void DownloadCommand::Winsock_DataArrival(qint64 bytesTotal)
{
    const QByteArray bytes = socket_.GetData(bytesTotal);
    if (bytes.isEmpty())
        return;
    const ReplyReader::State state = reader_.Feed(bytes);
    // Only the final reply's bytes count against the silence: a peer that
    // sends interim responses and nothing else has not answered.
    if (reader_.TakeProgress() && awaitingReply_)
        replyTimer_.start();
    if (state == ReplyReader::State::Ended)
        scanner_.End();
    settleReply();
}

void DownloadCommand::CloseSocket()
{
    abandonConnection();
}

void DownloadCommand::abandonConnection()
{
    pendingRequest_.reset();
    awaitingReply_ = false;
    replyTimer_.stop();
    socket_.Close();
}

void DownloadCommand::settleReply()
{
    if (awaitingReply_ && scanner_.linkWhole()) {
        awaitingReply_ = false;
        replyTimer_.stop();
        window_.SetStatusCaption(kLinkFoundCaption);
        window_.SetLinkVisible(true);
        state_.DownloadLink = scanner_.Link(state_.VideoId);
        window_.SetLinkCaption(kLinkCaption, state_.DownloadLink);
    }
    // The failure marker counts whenever it comes, also after the link,
    // which then goes: an invalid video has nothing to download.
    if (scanner_.failFound()) {
        if (scanner_.linkWhole())
            window_.SetLinkVisible(false);
        failReply(kInvalidVideoMessage);
        return;
    }
    if (!awaitingReply_) {
        // Past the link, a reply that cannot be read on (a trailer without
        // end, say) is only dropped: the link stays on offer.
        if (reader_.state() == ReplyReader::State::Failed)
            socket_.Close();
        return;
    }
    if (reader_.state() == ReplyReader::State::Failed)
        failReply(reader_.failure());
    else if (reader_.state() == ReplyReader::State::Ended)
        failReply(DescribeReplyWithoutInfo(reader_));
}

void DownloadCommand::failReply(QString message)
{
    abandonConnection();
    // Nothing more of this reply is read: the next one starts afresh.
    scanner_.Reset();
    reader_.Reset();
    window_.ShowErrorBox(message);
}

void DownloadCommand::onReplyTimeout()
{
    if (awaitingReply_)
        failReply(kNoAnswerMessage);
}

} // namespace corvane
