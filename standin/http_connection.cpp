#include "http_connection.h"

#include "answer_composition.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace standin {

namespace {

// All connections run on one thread: one buffer each way serves them all.
char inBlock[16 * 1024];
char outBlock[64 * 1024];

constexpr qint64 kMaxDiscarded = 1024 * 1024;

// The Date header's value, made once a second.
const QByteArray &currentDate()
{
    static qint64 second = -1;
    static QByteArray text;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (now != second) {
        second = now;
        text = httpDate(QDateTime::fromSecsSinceEpoch(now, Qt::UTC));
    }
    return text;
}

} // namespace

HttpConnection::HttpConnection(int descriptor, const HttpServer::Handler &handler,
                               const ConnectionTimeouts &timeouts, QObject *parent)
    : QObject(parent)
    , descriptor_(descriptor)
    , handler_(handler)
    , timeouts_(timeouts)
    , readNotifier_(descriptor, QSocketNotifier::Read)
    , writeNotifier_(descriptor, QSocketNotifier::Write)
{
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getsockname(descriptor_, reinterpret_cast<sockaddr *>(&address), &size) == 0) {
        localAddress_.setAddress(reinterpret_cast<const sockaddr *>(&address));
        localPort_ = address.ss_family == AF_INET6
                         ? ntohs(reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port)
                         : ntohs(reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
    }
    writeNotifier_.setEnabled(false);
    connect(&readNotifier_, &QSocketNotifier::activated, this, &HttpConnection::readable);
    connect(&writeNotifier_, &QSocketNotifier::activated, this, &HttpConnection::writable);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &HttpConnection::timedOut);
    timer_.start(timeouts_.idle);
}

HttpConnection::~HttpConnection()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

void HttpConnection::readable()
{
    if (phase_ == Phase::Lingering) {
        const ssize_t received = ::recv(descriptor_, inBlock, sizeof inBlock, 0);
        if (received > 0) {
            discarded_ += received;
            if (discarded_ > kMaxDiscarded)
                closeNow();
        } else if (received == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            closeNow();
        }
        return;
    }
    if (phase_ != Phase::Reading || !pending_.isEmpty()) {
        readNotifier_.setEnabled(false);
        return;
    }
    const ssize_t received = ::recv(descriptor_, inBlock, sizeof inBlock, 0);
    if (received > 0) {
        feed(inBlock, received);
    } else if (received == 0) {
        endOfInput_ = true;
        readNotifier_.setEnabled(false);
        endOfInput();
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        closeNow();
    }
}

void HttpConnection::feed(const char *data, qsizetype length)
{
    while (phase_ == Phase::Reading && length > 0) {
        qsizetype taken = 0;
        const RequestParser::Result result = parser_.parse(data, length, taken);
        if (result == RequestParser::Result::Partial)
            return;
        length -= taken;
        data += taken;
        Reply reply = replyTo(parser_, result, handler_, localAddress_, localPort_);
        closeAfterAnswer_ = reply.close;
        answer(std::move(reply.response), reply.request);
        if (result != RequestParser::Result::Complete)
            return; // refused, or answered and then closed
    }
    if (length > 0 && phase_ == Phase::Writing) {
        pending_ = QByteArray(data, length);
        readNotifier_.setEnabled(false);
    } else if (phase_ != Phase::Reading) {
        readNotifier_.setEnabled(phase_ == Phase::Lingering);
    }
}

void HttpConnection::continueReading()
{
    if (!pending_.isEmpty()) {
        const QByteArray data = std::exchange(pending_, {});
        feed(data.constData(), data.size());
    }
    if (phase_ != Phase::Reading || !pending_.isEmpty())
        return;
    if (endOfInput_)
        endOfInput();
    else
        readNotifier_.setEnabled(true);
}

void HttpConnection::endOfInput()
{
    // Every whole request that came before the end has been answered; a
    // request cut off by it cannot be.
    if (phase_ == Phase::Reading)
        closeNow();
}

void HttpConnection::refuse(int status, const QByteArray &explanation)
{
    closeAfterAnswer_ = true;
    pending_.clear();
    answer(errorPage(status, explanation), HttpRequest());
}

void HttpConnection::answer(HttpResponse response, const HttpRequest &request)
{
    struct stat status {};
    if (response.file && ::fstat(response.file->handle(), &status) != 0)
        response = errorPage(404, "The file cannot be read.");
    FileFacts facts;
    facts.size = status.st_size;
    facts.inode = status.st_ino;
    facts.modifiedSeconds = status.st_mtim.tv_sec;
    facts.modifiedNanoseconds = status.st_mtim.tv_nsec;
    std::shared_ptr<QFile> file = response.file;
    ComposedAnswer composed = composeAnswer(std::move(response), file ? &facts : nullptr, request,
                                            closeAfterAnswer_, currentDate());
    out_ = std::move(composed.bytes);
    outSent_ = 0;
    file_ = composed.sendsFile ? std::move(file) : nullptr;
    fileOffset_ = composed.fileFirst;
    fileRemaining_ = composed.fileLength;

    // Most answers go out whole at once; the others wait for the socket,
    // reading nothing meanwhile.
    phase_ = Phase::Writing;
    if (flush()) {
        finishAnswer();
    } else if (phase_ == Phase::Writing) {
        readNotifier_.setEnabled(false);
        timer_.start(timeouts_.stall);
    }
}

// Sends what the socket takes; true once the whole answer is sent.
bool HttpConnection::flush()
{
    for (;;) {
        const qsizetype head = std::min<qsizetype>(out_.size() - outSent_, sizeof outBlock);
        std::memcpy(outBlock, out_.constData() + outSent_, size_t(head));
        qsizetype size = head;
        if (fileRemaining_ > 0 && size < qsizetype(sizeof outBlock)) {
            const size_t want
                = size_t(std::min<qint64>(fileRemaining_, qint64(sizeof outBlock) - size));
            const ssize_t read = ::pread(file_->handle(), outBlock + size, want, fileOffset_);
            if (read <= 0) {
                closeNow(); // the file shrank: the promised length cannot be kept
                return false;
            }
            size += read;
        }
        if (size == 0)
            return true;
        const ssize_t sent = ::send(descriptor_, outBlock, size_t(size), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                writeNotifier_.setEnabled(true);
                return false;
            }
            closeNow();
            return false;
        }
        const qsizetype fromHead = std::min<qsizetype>(sent, head);
        outSent_ += fromHead;
        fileOffset_ += sent - fromHead;
        fileRemaining_ -= sent - fromHead;
        if (sent < size) {
            writeNotifier_.setEnabled(true);
            return false;
        }
    }
}

void HttpConnection::writable()
{
    if (phase_ != Phase::Writing) {
        writeNotifier_.setEnabled(false);
        return;
    }
    const qint64 left = out_.size() - outSent_ + fileRemaining_;
    if (flush()) {
        finishAnswer();
        if (phase_ == Phase::Reading)
            continueReading();
    } else if (phase_ == Phase::Writing && out_.size() - outSent_ + fileRemaining_ < left) {
        timer_.start(timeouts_.stall); // the client reads: more time
    }
}

void HttpConnection::finishAnswer()
{
    writeNotifier_.setEnabled(false);
    out_ = QByteArray();
    file_.reset();
    if (closeAfterAnswer_) {
        closeGracefully();
        return;
    }
    phase_ = Phase::Reading;
    readNotifier_.setEnabled(!endOfInput_);
    timer_.start(timeouts_.idle);
}

void HttpConnection::timedOut()
{
    switch (phase_) {
    case Phase::Reading:
        if (parser_.inMessage() || !pending_.isEmpty())
            refuse(408, "The request did not arrive in time.");
        else
            closeNow();
        break;
    case Phase::Writing: // the client has read nothing for that long
    case Phase::Lingering:
    case Phase::Closed:
        closeNow();
        break;
    }
}

// After an answer that said close: the client still gets all of it, also
// when it sent more than was read; what it sends now is read and dropped
// until it closes, for a short while at most.
void HttpConnection::closeGracefully()
{
    if (endOfInput_) {
        closeNow();
        return;
    }
    ::shutdown(descriptor_, SHUT_WR);
    phase_ = Phase::Lingering;
    pending_.clear();
    readNotifier_.setEnabled(true);
    timer_.start(timeouts_.linger);
}

void HttpConnection::closeNow()
{
    if (phase_ == Phase::Closed)
        return;
    phase_ = Phase::Closed;
    readNotifier_.setEnabled(false);
    writeNotifier_.setEnabled(false);
    timer_.stop();
    out_ = QByteArray();
    pending_ = QByteArray();
    file_.reset();
    ::close(descriptor_);
    descriptor_ = -1;
    emit closed();
}

} // namespace standin
