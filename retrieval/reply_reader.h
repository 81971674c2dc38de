#pragma once

#include "body_decoder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <llhttp.h>

namespace corvane {

// Reads the info reply as it arrives and hands on what is to be scanned.
//
// A reply that starts like an HTTP/1.x status line is read as the HTTP
// message it is: only the content of a successful (2xx) final response is
// handed on, with the transfer coding (chunked) and the content coding (gzip,
// deflate) undone; its status line, head and trailer never are. A final
// response of any other status ends with its head. Interim 1xx responses are
// skipped, and they, 204 and 304 have no body, whatever their headers say.
// Any other reply is handed on as it came, and ends when the peer closes.
class ReplyReader {
public:
    using Sink = std::function<void(QByteArrayView)>;
    // A head or a trailer longer than this is refused, so that a peer cannot
    // make the program hold one that never ends.
    static constexpr qsizetype kMaxHeadSize = 64 * 1024;

    enum class State {
        Reading,
        // The whole reply has come.
        Ended,
        // It cannot be read; failure() says why.
        Failed,
    };

    explicit ReplyReader(Sink sink);
    ReplyReader(const ReplyReader &) = delete;
    ReplyReader &operator=(const ReplyReader &) = delete;

    // Forgets the reply read so far, for a new connection.
    void Reset();
    // The next bytes of the reply. Bytes after its end are ignored.
    State Feed(QByteArrayView bytes);
    // The peer has closed the connection.
    State Finish();

    // Whether the bytes fed since the last call brought any of the final
    // response (or of a reply that is not HTTP): interim responses do not.
    bool TakeProgress();

    State state() const { return state_; }
    const QString &failure() const { return failure_; }
    // Whether any byte has come.
    bool started() const { return started_; }
    // Whether the reply is an HTTP message; its status line's code, reason
    // and Location header when it is.
    bool isHttp() const { return mode_ == Mode::Http; }
    int statusCode() const { return statusCode_; }
    const QByteArray &reason() const { return reason_; }
    const QByteArray &location() const { return location_; }

private:
    enum class Mode { Deciding, Raw, Http };
    enum class Pause { None, BodyStarts, LastChunk, MessageComplete };
    // Where in the message the parser is: heads and trailers are held until
    // they end, a body is handed on as it comes.
    enum class Section { Head, Body, Trailer };

    void execute(const char *data, qsizetype size);
    void fail(const QString &message);
    void failParsing(llhttp_errno_t error);

    static int onMessageBegin(llhttp_t *parser);
    static int onStatus(llhttp_t *parser, const char *at, size_t length);
    static int onStatusComplete(llhttp_t *parser);
    static int onHeaderField(llhttp_t *parser, const char *at, size_t length);
    static int onHeaderValue(llhttp_t *parser, const char *at, size_t length);
    static int onHeaderValueComplete(llhttp_t *parser);
    static int onHeadersComplete(llhttp_t *parser);
    static int onChunkHeader(llhttp_t *parser);
    static int onBody(llhttp_t *parser, const char *at, size_t length);
    static int onMessageComplete(llhttp_t *parser);

    Sink sink_;
    llhttp_settings_t settings_;
    llhttp_t parser_;
    BodyDecoder decoder_;

    State state_ = State::Reading;
    Mode mode_ = Mode::Deciding;
    Pause pause_ = Pause::None;
    QString failure_;
    bool started_ = false;
    bool progressed_ = false;
    // The final response's status line is whole: what comes now is progress.
    bool inFinalResponse_ = false;
    Section section_ = Section::Head;
    // The first bytes of the reply, until they tell whether it is HTTP.
    QByteArray start_;
    // How many bytes of the current head or trailer have passed.
    qsizetype sectionSize_ = 0;
    int statusCode_ = 0;
    QByteArray reason_;
    QByteArray location_;
    QByteArray contentEncoding_;
    // The header being read: its name, and its value so far.
    QByteArray field_;
    QByteArray value_;
    bool fieldComplete_ = false;
};

} // namespace corvane
