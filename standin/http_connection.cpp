#include "http_connection.h"

#include "http_message.h"

#include <QDateTime>
#include <QFile>
#include <QUrl>

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

constexpr int kLingerMs = 2000;
constexpr qint64 kMaxDiscarded = 1024 * 1024;

HttpConnection *connectionOf(llhttp_t *parser)
{
    return static_cast<HttpConnection *>(parser->data);
}

QByteArray formDecode(QByteArray text)
{
    return QByteArray::fromPercentEncoding(text.replace('+', ' '));
}

// A token's characters (RFC 9110, section 5.6.2).
bool isToken(QByteArrayView name)
{
    if (name.isEmpty())
        return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                        || QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
        if (!ok)
            return false;
    }
    return true;
}

// uri-host [":" port], as a Host header or an absolute target's authority.
bool isAuthority(const QByteArray &authority, QUrl &url)
{
    if (authority.contains('@') || authority.contains('/') || authority.contains('?')
        || authority.contains('#'))
        return false;
    url = QUrl::fromEncoded("http://" + authority + '/', QUrl::StrictMode);
    return url.isValid();
}

// The path with every escape decoded but "%2F", which would make a segment
// boundary of an ordinary character; false when a segment climbs ("..").
bool decodePath(const QByteArray &raw, QByteArray &path)
{
    const QList<QByteArray> segments = raw.split('/');
    QList<QByteArray> decoded;
    decoded.reserve(segments.size());
    for (const QByteArray &segment : segments) {
        QByteArray text = QByteArray::fromPercentEncoding(segment);
        if (text == "..")
            return false;
        decoded << text.replace("/", "%2F");
    }
    path = decoded.join('/');
    return true;
}

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

const llhttp_settings_t *HttpConnection::settings()
{
    static const llhttp_settings_t value = [] {
        llhttp_settings_t s;
        llhttp_settings_init(&s);
        s.on_message_begin = &HttpConnection::onMessageBegin;
        s.on_url = &HttpConnection::onUrl;
        s.on_header_field = &HttpConnection::onHeaderField;
        s.on_header_field_complete = &HttpConnection::onHeaderFieldComplete;
        s.on_header_value = &HttpConnection::onHeaderValue;
        s.on_headers_complete = &HttpConnection::onHeadersComplete;
        s.on_message_complete = &HttpConnection::onMessageComplete;
        return s;
    }();
    return &value;
}

HttpConnection::HttpConnection(int descriptor, const HttpServer::Handler &handler, QObject *parent)
    : QObject(parent)
    , descriptor_(descriptor)
    , handler_(handler)
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
    // Every lenient flag stays off: llhttp's defaults are its strict checks.
    llhttp_init(&parser_, HTTP_REQUEST, settings());
    parser_.data = this;

    writeNotifier_.setEnabled(false);
    connect(&readNotifier_, &QSocketNotifier::activated, this, &HttpConnection::readable);
    connect(&writeNotifier_, &QSocketNotifier::activated, this, &HttpConnection::writable);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &HttpConnection::timedOut);
    timer_.start(HttpServer::kIdleTimeoutMs);
}

HttpConnection::~HttpConnection()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

int HttpConnection::onMessageBegin(llhttp_t *parser)
{
    HttpConnection *self = connectionOf(parser);
    self->inMessage_ = true;
    self->url_.clear();
    self->field_.clear();
    self->value_.clear();
    self->fields_.clear();
    self->fieldDone_ = false;
    self->headSize_ = 0;
    self->refusal_ = 0;
    return HPE_OK;
}

bool HttpConnection::countHead(size_t length)
{
    headSize_ += qsizetype(length);
    if (headSize_ <= HttpServer::kMaxHeadSize)
        return true;
    refusal_ = 431;
    refusalText_ = "The request's head is larger than 8 KiB.";
    return false;
}

int HttpConnection::onUrl(llhttp_t *parser, const char *at, size_t length)
{
    HttpConnection *self = connectionOf(parser);
    if (!self->countHead(length))
        return HPE_USER;
    self->url_.append(at, qsizetype(length));
    return HPE_OK;
}

int HttpConnection::onHeaderField(llhttp_t *parser, const char *at, size_t length)
{
    HttpConnection *self = connectionOf(parser);
    if (self->fieldDone_) {
        self->fields_.append({std::exchange(self->field_, {}), std::exchange(self->value_, {})});
        self->fieldDone_ = false;
    }
    if (!self->countHead(length))
        return HPE_USER;
    self->field_.append(at, qsizetype(length));
    return HPE_OK;
}

int HttpConnection::onHeaderFieldComplete(llhttp_t *parser)
{
    HttpConnection *self = connectionOf(parser);
    self->fieldDone_ = true;
    // ": " and the line's end count too, so that many empty fields add up.
    return self->countHead(4) ? HPE_OK : HPE_USER;
}

int HttpConnection::onHeaderValue(llhttp_t *parser, const char *at, size_t length)
{
    HttpConnection *self = connectionOf(parser);
    if (!self->countHead(length))
        return HPE_USER;
    self->value_.append(at, qsizetype(length));
    return HPE_OK;
}

int HttpConnection::onHeadersComplete(llhttp_t *parser)
{
    HttpConnection *self = connectionOf(parser);
    if (self->fieldDone_)
        self->fields_.append({std::exchange(self->field_, {}), std::exchange(self->value_, {})});
    self->fieldDone_ = false;
    if (parser->content_length > 0 || (parser->flags & (F_CHUNKED | F_TRANSFER_ENCODING))) {
        self->refusal_ = 400;
        self->refusalText_ = "Requests with a body are not taken.";
        return -1;
    }
    return 0;
}

int HttpConnection::onMessageComplete(llhttp_t *)
{
    // Stop after each request: it is answered before the next one is read.
    return HPE_PAUSED;
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
        const llhttp_errno_t error = llhttp_execute(&parser_, data, size_t(length));
        if (error == HPE_OK)
            return; // all taken; the request goes on in the next block
        if (error != HPE_PAUSED && error != HPE_PAUSED_UPGRADE) {
            if (refusal_ == 0)
                refuse(400, "The request is not understood: "
                                + QByteArray(llhttp_get_error_reason(&parser_)) + '.');
            else
                refuse(refusal_, refusalText_);
            return;
        }
        const char *stop = llhttp_get_error_pos(&parser_);
        length -= stop - data;
        data = stop;
        if (error == HPE_PAUSED) {
            llhttp_resume(&parser_);
            answerRequest(false);
        } else {
            answerRequest(true); // an Upgrade: answered as usual, then closed
            return;
        }
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

void HttpConnection::answerRequest(bool upgrade)
{
    inMessage_ = false;
    // llhttp takes what follows an Upgrade request for another protocol: the
    // request is answered as usual and the connection closed.
    closeAfterAnswer_
        = upgrade || llhttp_get_upgrade(&parser_) || !llhttp_should_keep_alive(&parser_);
    const int major = llhttp_get_http_major(&parser_);
    const int minor = llhttp_get_http_minor(&parser_);
    if (major != 1) {
        if (major > 1)
            refuse(505, "Only HTTP/1.0 and HTTP/1.1 are served.");
        else
            refuse(400, "HTTP/0.9 requests are not taken.");
        return;
    }

    HttpRequest request;
    request.method = llhttp_method_name(llhttp_method_t(llhttp_get_method(&parser_)));
    request.target = url_;
    int hosts = 0;
    for (auto &[name, value] : fields_) {
        if (!isToken(name)) {
            refuse(400, "A header's name is not a token.");
            return;
        }
        name = name.toLower();
        while (value.endsWith(' ') || value.endsWith('\t'))
            value.chop(1);
        if (name == "host")
            ++hosts;
        auto it = request.headers.find(name);
        if (it == request.headers.end())
            request.headers.insert(name, value);
        else
            *it += ", " + value;
    }
    QUrl host;
    if (hosts > 1 || (hosts == 0 && minor == 1)
        || (hosts == 1 && !request.headers.value("host").isEmpty()
            && !isAuthority(request.headers.value("host"), host))) {
        refuse(400, "An HTTP/1.1 request needs exactly one valid Host header.");
        return;
    }

    // The origin form "/path?query", or the absolute form for this server.
    QByteArray target = request.target;
    if (!target.startsWith('/')) {
        const qsizetype scheme = target.indexOf("://");
        QUrl authority;
        if (scheme < 0 || target.left(scheme).toLower() != "http") {
            refuse(400, "The request's target is not understood.");
            return;
        }
        const qsizetype end = target.indexOf('/', scheme + 3);
        const qsizetype query = target.indexOf('?', scheme + 3);
        const qsizetype cut = end < 0 ? query : (query < 0 ? end : std::min(end, query));
        const QByteArray name = target.mid(scheme + 3, cut < 0 ? -1 : cut - scheme - 3).toLower();
        if (!isAuthority(name, authority)) {
            refuse(400, "The request's target is not understood.");
            return;
        }
        const QHostAddress address(authority.host());
        if ((authority.host() != u"localhost" && address != localAddress_)
            || authority.port(80) != localPort_) {
            answer(errorPage(421, "This server does not answer for that host."), request);
            return;
        }
        target = cut < 0 ? QByteArray("/") : target.mid(cut);
        if (target.startsWith('?'))
            target.prepend('/');
    }
    const qsizetype question = target.indexOf('?');
    if (!decodePath(question < 0 ? target : target.left(question), request.path)) {
        refuse(400, "The path may not climb out of the site.");
        return;
    }
    if (question >= 0) {
        for (const QByteArray &pair : target.mid(question + 1).split('&')) {
            const qsizetype equals = pair.indexOf('=');
            request.query.insert(formDecode(pair.left(equals)),
                                 equals < 0 ? QByteArray() : formDecode(pair.mid(equals + 1)));
        }
    }
    if (request.method != "GET" && request.method != "HEAD") {
        refuse(405, "Only GET and HEAD are served.", {{"Allow", "GET, HEAD"}});
        return;
    }
    answer(handler_(request), request);
}

void HttpConnection::refuse(int status, const QByteArray &explanation,
                            QList<std::pair<QByteArray, QByteArray>> headers)
{
    closeAfterAnswer_ = true;
    inMessage_ = false;
    pending_.clear();
    HttpResponse response = errorPage(status, explanation);
    response.headers = std::move(headers);
    answer(std::move(response), HttpRequest());
}

void HttpConnection::answer(HttpResponse response, const HttpRequest &request)
{
    QByteArray validators;
    QByteArray contentRange;
    qint64 first = 0;
    qint64 length = response.body.size();
    if (response.file) {
        struct stat status {};
        if (::fstat(response.file->handle(), &status) != 0) {
            response = errorPage(404, "The file cannot be read.");
        } else {
            const qint64 size = status.st_size;
            const QByteArray etag
                = '"' + QByteArray::number(qulonglong(status.st_ino), 16) + '-'
                  + QByteArray::number(size, 16) + '-'
                  + QByteArray::number(
                      qlonglong(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec, 16)
                  + '"';
            const QByteArray lastModified
                = httpDate(QDateTime::fromSecsSinceEpoch(status.st_mtim.tv_sec, Qt::UTC));
            validators = "ETag: " + etag + "\r\nLast-Modified: " + lastModified
                         + "\r\nAccept-Ranges: bytes\r\n";
            length = size;
            const QByteArray range = request.headers.value("range");
            const QByteArray ifRange = request.headers.value("if-range");
            // Only GET has ranges; an If-Range that no longer matches asks
            // for the whole file.
            if (response.status == 200 && request.method == "GET" && !range.isNull()
                && (ifRange.isNull() || ifRangeMatches(ifRange, etag, lastModified))) {
                const ByteRange wanted = parseRange(range, size);
                if (wanted.kind == ByteRange::Part) {
                    response.status = 206;
                    first = wanted.first;
                    length = wanted.last - wanted.first + 1;
                    contentRange = "bytes " + QByteArray::number(wanted.first) + '-'
                                   + QByteArray::number(wanted.last) + '/'
                                   + QByteArray::number(size);
                } else if (wanted.kind == ByteRange::Unsatisfied) {
                    response = errorPage(416, "The requested range is not a range of the file.");
                    length = response.body.size();
                    contentRange = "bytes */" + QByteArray::number(size);
                }
            }
        }
    }

    QByteArray &out = out_;
    out.clear();
    out.reserve(512 + (response.file ? 0 : response.body.size()));
    out += "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status)
           + "\r\nDate: " + currentDate() + "\r\nServer: corvane-standin\r\n";
    if (!response.contentType.isEmpty())
        out += "Content-Type: " + response.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(length) + "\r\n";
    if (!contentRange.isEmpty())
        out += "Content-Range: " + contentRange + "\r\n";
    if (response.file)
        out += validators;
    for (const auto &[name, value] : std::as_const(response.headers))
        out += name + ": " + value + "\r\n";
    out += closeAfterAnswer_ ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    const bool headOnly = request.method == "HEAD";
    if (!headOnly && !response.file)
        out += response.body;
    outSent_ = 0;
    file_ = headOnly ? nullptr : response.file;
    fileOffset_ = first;
    fileRemaining_ = file_ ? length : 0;

    // Most answers go out whole at once; the others wait for the socket,
    // reading nothing meanwhile.
    phase_ = Phase::Writing;
    if (flush()) {
        finishAnswer();
    } else if (phase_ == Phase::Writing) {
        readNotifier_.setEnabled(false);
        timer_.start(HttpServer::kStallTimeoutMs);
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
        timer_.start(HttpServer::kStallTimeoutMs); // the client reads: more time
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
    timer_.start(HttpServer::kIdleTimeoutMs);
}

void HttpConnection::timedOut()
{
    switch (phase_) {
    case Phase::Reading:
        if (inMessage_ || !pending_.isEmpty())
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
    timer_.start(kLingerMs);
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
