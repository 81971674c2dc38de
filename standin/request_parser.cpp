#include "request_parser.h"

namespace standin {

namespace {

RequestParser *parserOf(llhttp_t *parser)
{
    return static_cast<RequestParser *>(parser->data);
}

// Whether text, but for its trailing spaces and tabs, ends a line; before
// when it is all spaces and tabs.
bool endsLine(QByteArrayView text, bool before)
{
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        if (text[i] != ' ' && text[i] != '\t')
            return text[i] == '\n';
    }
    return before;
}

bool isTokenCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
           || QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

} // namespace

const llhttp_settings_t *RequestParser::settings()
{
    static const llhttp_settings_t value = [] {
        llhttp_settings_t s;
        llhttp_settings_init(&s);
        s.on_message_begin = &RequestParser::onMessageBegin;
        s.on_method_complete = &RequestParser::onMethodComplete;
        s.on_url = &RequestParser::onUrl;
        s.on_header_field = &RequestParser::onHeaderField;
        s.on_header_field_complete = &RequestParser::onHeaderFieldComplete;
        s.on_header_value = &RequestParser::onHeaderValue;
        s.on_headers_complete = &RequestParser::onHeadersComplete;
        s.on_message_complete = &RequestParser::onMessageComplete;
        return s;
    }();
    return &value;
}

RequestParser::RequestParser()
{
    // Every lenient flag stays off: llhttp's defaults are its strict checks.
    llhttp_init(&parser_, HTTP_REQUEST, settings());
    parser_.data = this;
}

RequestParser::Result RequestParser::parse(const char *data, qsizetype length, qsizetype &taken)
{
    taken = length;
    if (refusal_ != 0)
        return Result::Refused;
    if (inMethod_)
        return readUnknownMethod(QByteArrayView(data, length));
    chunk_ = data;
    chunkEnd_ = data + length;
    fieldEnd_ = nullptr;
    const llhttp_errno_t error = llhttp_execute(&parser_, data, size_t(length));
    if (error == HPE_OK) {
        // All taken; the request goes on in the next block.
        lineEndBefore_ = endsLine(QByteArrayView(data, length), lineEndBefore_);
        breaksAfterField_ += QByteArrayView(fieldEnd_ ? fieldEnd_ : data, chunkEnd_).count('\n');
        return Result::Partial;
    }
    if (error != HPE_PAUSED && error != HPE_PAUSED_UPGRADE) {
        inMessage_ = false;
        const char *at = llhttp_get_error_pos(&parser_);
        if (refusal_ == 0 && error == HPE_INVALID_VERSION
            && qstrcmp(llhttp_get_error_reason(&parser_), "Invalid HTTP version") == 0) {
            // HTTP/D.D, but not a version llhttp reads.
            refusal_ = 505;
            refusalText_ = "Only HTTP/1.0 and HTTP/1.1 are served.";
        } else if (refusal_ == 0) {
            refusalText_ = "The request is not understood: "
                           + QByteArray(llhttp_get_error_reason(&parser_)) + '.';
            // What llhttp took of the method matched a known one's start (or
            // all of one, with no space after it); the rest, up to the space,
            // says whether it is a method at all.
            inMethod_ = error == HPE_INVALID_METHOD && at;
            methodRead_ = methodRead_ && !inMethod_;
            if (inMethod_)
                return readUnknownMethod(QByteArrayView(at, chunkEnd_));
            refusal_ = 400;
        }
        return Result::Refused;
    }
    taken = llhttp_get_error_pos(&parser_) - data;
    if (error == HPE_PAUSED_UPGRADE)
        return Result::Upgrade;
    llhttp_resume(&parser_);
    return Result::Complete;
}

// Token characters up to a space make a method unknown here (501); any
// other character, or a method longer than a head may be, makes the
// request not understood (400). Until then the method goes on.
RequestParser::Result RequestParser::readUnknownMethod(QByteArrayView rest)
{
    for (const char c : rest) {
        if (c == ' ') {
            refusal_ = 501;
            refusalText_ = "The request's method is not known here.";
        } else if (!isTokenCharacter(c) || ++methodLength_ > kMaxHeadSize) {
            refusal_ = 400;
        } else {
            continue;
        }
        inMethod_ = false;
        return Result::Refused;
    }
    return Result::Partial;
}

ParsedRequest RequestParser::takeRequest()
{
    inMessage_ = false;
    parsed_.major = llhttp_get_http_major(&parser_);
    parsed_.minor = llhttp_get_http_minor(&parser_);
    parsed_.method = method();
    return std::exchange(parsed_, {});
}

bool RequestParser::keepsAlive()
{
    return !llhttp_get_upgrade(&parser_) && llhttp_should_keep_alive(&parser_);
}

int RequestParser::onMessageBegin(llhttp_t *parser)
{
    RequestParser *self = parserOf(parser);
    self->inMessage_ = true;
    self->methodRead_ = false;
    self->parsed_ = ParsedRequest();
    self->field_.clear();
    self->value_.clear();
    self->fieldDone_ = false;
    self->headSize_ = 0;
    self->refusal_ = 0;
    return HPE_OK;
}

int RequestParser::onMethodComplete(llhttp_t *parser)
{
    parserOf(parser)->methodRead_ = true;
    return HPE_OK;
}

QByteArray RequestParser::method() const
{
    if (!methodRead_)
        return {};
    return llhttp_method_name(llhttp_method_t(parser_.method));
}

bool RequestParser::countHead(size_t length, int status)
{
    headSize_ += qsizetype(length);
    if (headSize_ <= kMaxHeadSize)
        return true;
    refusal_ = status;
    refusalText_ = status == 414 ? "The request's target is longer than 8 KiB."
                                 : "The request's head is larger than 8 KiB.";
    return false;
}

int RequestParser::onUrl(llhttp_t *parser, const char *at, size_t length)
{
    RequestParser *self = parserOf(parser);
    if (!self->countHead(length, 414))
        return HPE_USER;
    self->parsed_.target.append(at, qsizetype(length));
    // A target that ends its line has no version after it: HTTP/0.9, which
    // llhttp would only take up once the next byte comes.
    const char *end = at + length;
    if (end < self->chunkEnd_ && (*end == '\r' || *end == '\n')) {
        self->refusal_ = 400;
        self->refusalText_ = "HTTP/0.9 requests are not taken.";
        return HPE_USER;
    }
    return HPE_OK;
}

int RequestParser::onHeaderField(llhttp_t *parser, const char *at, size_t length)
{
    RequestParser *self = parserOf(parser);
    if (self->fieldDone_) {
        self->parsed_.fields.append(
            {std::exchange(self->field_, {}), std::exchange(self->value_, {})});
        self->fieldDone_ = false;
    }
    if (!self->countHead(length))
        return HPE_USER;
    self->field_.append(at, qsizetype(length));
    self->fieldEnd_ = at + length;
    self->breaksAfterField_ = 0;
    return HPE_OK;
}

int RequestParser::onHeaderFieldComplete(llhttp_t *parser)
{
    RequestParser *self = parserOf(parser);
    self->fieldDone_ = true;
    // ": " and the line's end count too, so that many empty fields add up.
    return self->countHead(4) ? HPE_OK : HPE_USER;
}

int RequestParser::onHeaderValue(llhttp_t *parser, const char *at, size_t length)
{
    RequestParser *self = parserOf(parser);
    // llhttp reports an empty value as no bytes at the start of the line
    // after it: nothing to take. It leaves out lines of blanks in between,
    // an empty value's folding, which is put back. The field's name may have
    // ended in an earlier block.
    if (length == 0) {
        const char *from = self->fieldEnd_ ? self->fieldEnd_ : self->chunk_;
        if (self->breaksAfterField_ + QByteArrayView(from, at).count('\n') > 1)
            self->value_.append("\r\n");
        return HPE_OK;
    }
    if (!self->countHead(length))
        return HPE_USER;
    // llhttp takes a line that begins with a space or tab as the value's
    // continuation and leaves its line break out: it is put back, for the
    // request's checks to see.
    if (self->followsLineEnd(at))
        self->value_.append("\r\n");
    self->value_.append(at, qsizetype(length));
    return HPE_OK;
}

// Whether a value's part at at begins a line, after spaces or tabs: that
// is, in this block, or at its start in the block before.
bool RequestParser::followsLineEnd(const char *at) const
{
    return endsLine(QByteArrayView(chunk_, at), lineEndBefore_);
}

int RequestParser::onHeadersComplete(llhttp_t *parser)
{
    RequestParser *self = parserOf(parser);
    if (self->fieldDone_)
        self->parsed_.fields.append(
            {std::exchange(self->field_, {}), std::exchange(self->value_, {})});
    self->fieldDone_ = false;
    if (parser->content_length > 0 || (parser->flags & (F_CHUNKED | F_TRANSFER_ENCODING))) {
        self->refusal_ = 400;
        self->refusalText_ = "Requests with a body are not taken.";
        return -1;
    }
    return 0;
}

int RequestParser::onMessageComplete(llhttp_t *)
{
    // Stop after each request: it is answered before the next one is read.
    return HPE_PAUSED;
}

} // namespace standin
