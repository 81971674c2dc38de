// A random body, framed and compressed the ways servers do it, cut into
// random pieces: the reader hands on the head as it came and the body
// decoded, and the scanner behind it gives what the rule gives for them.
// Inputs of the last kind are fed to the reader as they are.
#include "http_bodies.h"
#include "reply_reader.h"
#include "reply_scan.h"
#include "scan_oracle.h"

#include <cstdint>
#include <cstdlib>

using namespace corvane;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

enum Framing { ContentLength, Chunked, ToTheClose, AsItIs };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    // First byte: framing, coding and an interim response; the next two
    // choose the cuts; the rest is the body.
    const int framing = data[0] & 3;
    const int coding = (data[0] >> 2) & 3;
    const bool interim = data[0] & 16;
    quint32 state = quint32(data[1]) << 8 | data[2];
    const auto next = [&state](quint32 bound) {
        state = state * 1103515245u + 12345u;
        return 1 + (state >> 16) % bound;
    };
    const QByteArray body(reinterpret_cast<const char *>(data + 3), qsizetype(size - 3));

    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n";
    QByteArray coded = body;
    if (framing != AsItIs && coding != 0) {
        static const char *const names[] = {"", "gzip", "deflate", "deflate"};
        head += QByteArray("Content-Encoding: ") + names[coding] + "\r\n";
        coded = coding == 1 ? gzipped(body) : coding == 2 ? zlibDeflated(body) : rawDeflated(body);
    }
    QByteArray reply;
    switch (framing) {
    case ContentLength:
        head += "Content-Length: " + QByteArray::number(coded.size()) + "\r\n\r\n";
        reply = head + coded;
        break;
    case Chunked:
        head += "Transfer-Encoding: chunked\r\n\r\n";
        reply = head;
        for (qsizetype at = 0; at < coded.size();) {
            const QByteArray piece = coded.mid(at, next(300));
            reply += QByteArray::number(piece.size(), 16) + ";x=y\r\n" + piece + "\r\n";
            at += piece.size();
        }
        reply += "0\r\nTrailer: z\r\n\r\n";
        break;
    case ToTheClose:
        head += "\r\n";
        reply = head + coded;
        break;
    case AsItIs:
        reply = body;
        break;
    }
    if (interim && framing != AsItIs)
        reply.prepend("HTTP/1.1 100 Continue\r\n\r\n");

    const QString videoId = QStringLiteral("vid");
    QByteArray scanned;
    ReplyScanner scanner;
    ReplyReader reader([&](QByteArrayView piece) {
        scanned += piece;
        scanner.Feed(piece);
    });
    const QString whole = QString::fromLatin1(framing == AsItIs ? body : head + body);
    const ScanOutcome expected = scanOracle(whole, videoId);
    for (qsizetype from = 0; from < reply.size();) {
        const qsizetype length = std::min<qsizetype>(next(97), reply.size() - from);
        if (reader.Feed(QByteArrayView(reply).sliced(from, length)) == ReplyReader::State::Ended)
            scanner.End();
        if (framing != AsItIs || !reader.isHttp())
            check(!scanner.linkWhole() || scanner.Link(videoId) == expected.link);
        from += length;
    }
    if (reader.Finish() == ReplyReader::State::Ended)
        scanner.End();
    check(reader.state() != ReplyReader::State::Reading);

    if (framing == AsItIs) {
        // Bare text is handed on whole; an HTTP reply, whatever it holds,
        // ends or fails with a reason.
        check(reader.isHttp() || scanned == body);
        check(reader.state() == ReplyReader::State::Ended || !reader.failure().isEmpty());
        return 0;
    }
    check(reader.state() == ReplyReader::State::Ended);
    check(scanned == head + body);
    check(scanner.linkWhole() == expected.tokenFound);
    check(!expected.tokenFound || scanner.Link(videoId) == expected.link);
    check(scanner.failFound() == expected.failFound);
    return 0;
}
