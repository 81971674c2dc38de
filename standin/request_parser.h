#pragma once

#include "request_rules.h"

#include <llhttp.h>

namespace standin {

// Reads a connection's requests with llhttp (no lenient flag set), one at a
// time: it stops after each whole request, which is answered before the next
// is read. A head over 8 KiB (414 when the target makes it so), a body, an
// HTTP/0.9 request line and anything llhttp rejects are refused: 505 for a
// version it does not read, 501 for a method it does not know, else 400.
class RequestParser {
public:
    static constexpr qsizetype kMaxHeadSize = 8 * 1024;

    enum class Result {
        Partial,  // all taken; the request goes on in the next block
        Complete, // a whole request, to take with takeRequest()
        Upgrade,  // a whole request, after which the bytes are another protocol's
        Refused,  // with refusal() and refusalText()
    };

    RequestParser();
    RequestParser(const RequestParser &) = delete;
    RequestParser &operator=(const RequestParser &) = delete;

    // Parses from data on; taken says how much of it a whole request used.
    Result parse(const char *data, qsizetype length, qsizetype &taken);
    ParsedRequest takeRequest();
    // Whether the connection may stay open after the request just taken.
    bool keepsAlive();
    // Whether a request has begun and is not whole yet.
    bool inMessage() const { return inMessage_ || inMethod_; }
    int refusal() const { return refusal_; }
    // The request's method, once llhttp has read it; else empty.
    QByteArray method() const;
    QByteArray refusalText() const { return refusalText_; }

private:
    static int onMessageBegin(llhttp_t *parser);
    static int onMethodComplete(llhttp_t *parser);
    static int onUrl(llhttp_t *parser, const char *at, size_t length);
    static int onHeaderField(llhttp_t *parser, const char *at, size_t length);
    static int onHeaderFieldComplete(llhttp_t *parser);
    static int onHeaderValue(llhttp_t *parser, const char *at, size_t length);
    static int onHeadersComplete(llhttp_t *parser);
    static int onMessageComplete(llhttp_t *parser);
    static const llhttp_settings_t *settings();

    Result readUnknownMethod(QByteArrayView rest);
    bool countHead(size_t length, int status = 431);
    bool followsLineEnd(const char *at) const;

    llhttp_t parser_;
    bool inMessage_ = false;
    bool methodRead_ = false;
    ParsedRequest parsed_;
    QByteArray field_;
    QByteArray value_;
    bool fieldDone_ = false;
    qsizetype headSize_ = 0;
    int refusal_ = 0;
    QByteArray refusalText_;
    // The block llhttp is parsing, and whether the one before ended a line.
    const char *chunk_ = nullptr;
    const char *chunkEnd_ = nullptr;
    // Where the last field name ended, when in this block, and the line
    // breaks after it in the blocks before.
    const char *fieldEnd_ = nullptr;
    qsizetype breaksAfterField_ = 0;
    bool lineEndBefore_ = false;
    // A method llhttp does not know, read on until its end; its length.
    bool inMethod_ = false;
    qsizetype methodLength_ = 0;
};

} // namespace standin
