#include "reply_reader.h"

#include "messages.h"
#include "peer_text.h"

#include <algorithm>
#include <utility>

namespace corvane {

namespace {

constexpr QByteArrayView kStatusLineStart = "HTTP/1.";

ReplyReader &readerOf(llhttp_t *parser)
{
    return *static_cast<ReplyReader *>(parser->data);
}

bool isInterim(int statusCode)
{
    // 101 switches protocols: nothing HTTP follows it.
    return statusCode >= 100 && statusCode < 200 && statusCode != 101;
}

// RFC 9112, section 6.3: these end with their head, whatever it says of a body.
bool hasNoBody(int statusCode)
{
    return (statusCode >= 100 && statusCode < 200) || statusCode == 204 || statusCode == 304;
}

QString sectionTooLong(QLatin1StringView section)
{
    return ReplySectionTooLongMessage(section, ReplyReader::kMaxHeadSize / 1024);
}

} // namespace

ReplyReader::ReplyReader(Sink sink)
    : sink_(std::move(sink))
{
    llhttp_settings_init(&settings_);
    settings_.on_message_begin = &ReplyReader::onMessageBegin;
    settings_.on_status = &ReplyReader::onStatus;
    settings_.on_status_complete = &ReplyReader::onStatusComplete;
    settings_.on_header_field = &ReplyReader::onHeaderField;
    settings_.on_header_value = &ReplyReader::onHeaderValue;
    settings_.on_header_value_complete = &ReplyReader::onHeaderValueComplete;
    settings_.on_headers_complete = &ReplyReader::onHeadersComplete;
    settings_.on_chunk_header = &ReplyReader::onChunkHeader;
    settings_.on_body = &ReplyReader::onBody;
    settings_.on_message_complete = &ReplyReader::onMessageComplete;
    Reset();
}

void ReplyReader::Reset()
{
    llhttp_init(&parser_, HTTP_RESPONSE, &settings_);
    parser_.data = this;
    decoder_.Start(BodyDecoder::Coding::Identity, sink_);
    state_ = State::Reading;
    mode_ = Mode::Deciding;
    pause_ = Pause::None;
    failure_.clear();
    started_ = false;
    progressed_ = false;
    inFinalResponse_ = false;
    section_ = Section::Head;
    start_.clear();
    sectionSize_ = 0;
    statusCode_ = 0;
    reason_.clear();
    location_.clear();
    contentEncoding_.clear();
    field_.clear();
    value_.clear();
    fieldComplete_ = false;
}

ReplyReader::State ReplyReader::Feed(QByteArrayView bytes)
{
    if (state_ != State::Reading || bytes.isEmpty())
        return state_;
    started_ = true;
    // Bytes of an interim response are no progress, nor are those of a status
    // line still coming in pieces: its code is known only once it is whole.
    // The final response's whole status line is the first progress.
    if (mode_ == Mode::Http && inFinalResponse_)
        progressed_ = true;
    switch (mode_) {
    case Mode::Deciding: {
        const qsizetype wanted = kStatusLineStart.size() - start_.size();
        start_.append(bytes.first(std::min(wanted, bytes.size())));
        if (!kStatusLineStart.startsWith(start_)) {
            mode_ = Mode::Raw;
            progressed_ = true;
            sink_(std::exchange(start_, QByteArray()));
            sink_(bytes.sliced(std::min(wanted, bytes.size())));
        } else if (start_.size() == kStatusLineStart.size()) {
            mode_ = Mode::Http;
            const QByteArray start = std::exchange(start_, QByteArray());
            execute(start.constData(), start.size());
            if (wanted < bytes.size())
                execute(bytes.data() + wanted, bytes.size() - wanted);
        }
        break;
    }
    case Mode::Raw:
        progressed_ = true;
        sink_(bytes);
        break;
    case Mode::Http:
        execute(bytes.data(), bytes.size());
        break;
    }
    return state_;
}

bool ReplyReader::TakeProgress()
{
    return std::exchange(progressed_, false);
}

ReplyReader::State ReplyReader::Finish()
{
    if (state_ != State::Reading)
        return state_;
    switch (mode_) {
    case Mode::Deciding:
        // Too short to be a status line: a reply of a few bare bytes.
        mode_ = Mode::Raw;
        sink_(std::exchange(start_, QByteArray()));
        state_ = State::Ended;
        break;
    case Mode::Raw:
        state_ = State::Ended;
        break;
    case Mode::Http: {
        // A body that runs to the close ends here; any other reply that has
        // not ended was cut short.
        pause_ = Pause::None;
        const llhttp_errno_t error = llhttp_finish(&parser_);
        if (state_ != State::Reading)
            break;
        if (error == HPE_PAUSED && pause_ == Pause::MessageComplete && !isInterim(statusCode_)) {
            if (decoder_.Finish())
                state_ = State::Ended;
            else
                fail(ReplyDecodingFailedMessage(decoder_.error()));
        } else {
            fail(kReplyCutShortMessage);
        }
        break;
    }
    }
    return state_;
}

void ReplyReader::execute(const char *data, qsizetype size)
{
    const char *at = data;
    const char *const end = data + size;
    while (state_ == State::Reading) {
        pause_ = Pause::None;
        const llhttp_errno_t error = llhttp_execute(&parser_, at, size_t(end - at));
        const char *stop = error == HPE_OK ? end : llhttp_get_error_pos(&parser_);
        // A head or a trailer is measured as it passes; the parser holds
        // none of it.
        if (section_ != Section::Body) {
            sectionSize_ += stop - at;
            if (sectionSize_ > kMaxHeadSize) {
                fail(sectionTooLong(section_ == Section::Head ? QLatin1StringView("head")
                                                              : QLatin1StringView("trailer")));
                return;
            }
        }
        if (error == HPE_OK)
            return;
        if (error != HPE_PAUSED) {
            failParsing(error);
            return;
        }
        at = stop;
        if (pause_ == Pause::BodyStarts) {
            section_ = Section::Body;
        } else if (pause_ == Pause::LastChunk) {
            section_ = Section::Trailer;
            sectionSize_ = 0;
        } else if (pause_ == Pause::MessageComplete) {
            if (isInterim(statusCode_)) {
                section_ = Section::Head;
                sectionSize_ = 0;
            } else if (decoder_.Finish()) {
                state_ = State::Ended;
                return;
            } else {
                fail(ReplyDecodingFailedMessage(decoder_.error()));
                return;
            }
        }
        llhttp_resume(&parser_);
    }
}

void ReplyReader::fail(const QString &message)
{
    state_ = State::Failed;
    failure_ = message;
}

void ReplyReader::failParsing(llhttp_errno_t error)
{
    if (error == HPE_USER)
        return; // a callback has failed and said why
    const QString reason = QString::fromLatin1(llhttp_get_error_reason(&parser_));
    if (section_ == Section::Head)
        fail(ReplyNotHttpMessage(reason));
    else if (parser_.flags & F_CHUNKED)
        fail(ReplyChunksDamagedMessage(reason));
    else
        fail(ReplyUnreadableMessage(reason));
}

int ReplyReader::onMessageBegin(llhttp_t *parser)
{
    ReplyReader &self = readerOf(parser);
    self.section_ = Section::Head;
    self.sectionSize_ = 0;
    self.statusCode_ = 0;
    self.reason_.clear();
    self.location_.clear();
    self.contentEncoding_.clear();
    self.field_.clear();
    self.value_.clear();
    self.fieldComplete_ = false;
    return 0;
}

int ReplyReader::onStatus(llhttp_t *parser, const char *at, size_t length)
{
    readerOf(parser).reason_.append(at, qsizetype(length));
    return 0;
}

int ReplyReader::onStatusComplete(llhttp_t *parser)
{
    ReplyReader &self = readerOf(parser);
    self.inFinalResponse_ = !isInterim(parser->status_code);
    if (self.inFinalResponse_)
        self.progressed_ = true;
    return 0;
}

int ReplyReader::onHeaderField(llhttp_t *parser, const char *at, size_t length)
{
    ReplyReader &self = readerOf(parser);
    if (self.section_ != Section::Head)
        return 0; // a trailer's fields are not kept
    if (self.fieldComplete_) {
        self.field_.clear();
        self.value_.clear();
        self.fieldComplete_ = false;
    }
    self.field_.append(at, qsizetype(length));
    return 0;
}

int ReplyReader::onHeaderValue(llhttp_t *parser, const char *at, size_t length)
{
    ReplyReader &self = readerOf(parser);
    if (self.section_ == Section::Head)
        self.value_.append(at, qsizetype(length));
    return 0;
}

int ReplyReader::onHeaderValueComplete(llhttp_t *parser)
{
    ReplyReader &self = readerOf(parser);
    if (self.section_ != Section::Head)
        return 0;
    self.fieldComplete_ = true;
    const QByteArray name = self.field_.toLower();
    if (name == "location") {
        self.location_ = self.value_.trimmed();
    } else if (name == "content-encoding") {
        // Repeated headers make one list.
        if (!self.contentEncoding_.isEmpty())
            self.contentEncoding_ += ',';
        self.contentEncoding_ += self.value_;
    }
    return 0;
}

int ReplyReader::onHeadersComplete(llhttp_t *parser)
{
    ReplyReader &self = readerOf(parser);
    self.statusCode_ = parser->status_code;
    // Returning 1 tells llhttp that no body follows, whatever the headers
    // say of one (RFC 9112, section 6.3).
    constexpr int kNoBody = 1;
    if (isInterim(self.statusCode_)) {
        // Nor does an interim response end the connection.
        parser->flags = uint16_t((parser->flags & ~F_CONNECTION_CLOSE) | F_CONNECTION_KEEP_ALIVE);
        return kNoBody;
    }
    // Only the content of a successful reply is the video's info: a
    // header, or the page of a redirect or an error, is never scanned, and
    // a reply of another status ends with its head.
    if (self.statusCode_ < 200 || self.statusCode_ >= 300) {
        self.state_ = State::Ended;
        return HPE_PAUSED;
    }
    self.decoder_.Start(BodyDecoder::CodingOf(self.contentEncoding_), self.sink_);
    if (hasNoBody(self.statusCode_))
        return kNoBody;
    // Paused where the body starts, so that the head is measured to its end.
    self.pause_ = Pause::BodyStarts;
    return HPE_PAUSED;
}

int ReplyReader::onChunkHeader(llhttp_t *parser)
{
    // The last chunk: what follows up to the message's end is its trailer.
    if (parser->content_length != 0)
        return 0;
    readerOf(parser).pause_ = Pause::LastChunk;
    return HPE_PAUSED;
}

int ReplyReader::onBody(llhttp_t *parser, const char *at, size_t length)
{
    ReplyReader &self = readerOf(parser);
    if (self.decoder_.coding() == BodyDecoder::Coding::Unknown) {
        self.fail(ReplyCodingUnknownMessage(PeerText(self.contentEncoding_.trimmed())));
        return -1;
    }
    if (!self.decoder_.Feed(QByteArrayView(at, qsizetype(length)))) {
        self.fail(ReplyDecodingFailedMessage(self.decoder_.error()));
        return -1;
    }
    return 0;
}

int ReplyReader::onMessageComplete(llhttp_t *parser)
{
    readerOf(parser).pause_ = Pause::MessageComplete;
    return HPE_PAUSED;
}

} // namespace corvane
