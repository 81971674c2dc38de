// A body compressed and framed as servers do it, in random pieces: the body
// comes out as it was, and nothing of the head or a trailer. Interim responses before it give
// nothing, whatever their headers say, and one with a body makes the reply
// fail; a 204 or 304 ends with its head; a trailer past 64 KiB makes the reply
// fail rather than be held. Inputs of the last kind go in as they are: bare
// text comes out whole, anything else ends or fails, saying why. What comes
// out, scanned piece by piece as it comes, gives what a scan of the whole does.
#include "http_bodies.h"
#include "reply_reader.h"
#include "reply_scan.h"

#include <cstdint>
#include <cstdlib>

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    // First byte: framing, coding, an interim response, a status without a
    // body, a long trailer; the next two choose the cuts; the rest is the body.
    enum { ContentLength, Chunked, ToTheClose, AsItIs };
    const int framing = data[0] & 3;
    const int coding = (data[0] >> 2) & 3;
    const int interim = (data[0] >> 4) & 3;
    const bool noBody = data[0] & 64;
    const bool longTrailer = data[0] & 128;
    quint32 state = quint32(data[1]) << 8 | data[2];
    const auto next = [&state](quint32 bound) {
        state = state * 1103515245u + 12345u;
        return qsizetype(1 + (state >> 16) % bound);
    };
    const QByteArray body(reinterpret_cast<const char *>(data + 3), qsizetype(size - 3));
    const int windowBits[] = {0, 16 + MAX_WBITS, MAX_WBITS, -MAX_WBITS};
    const QByteArray coded = coding ? compressed(body, windowBits[coding]) : body;
    QByteArray head = !noBody           ? "HTTP/1.1 200 OK\r\n"
                      : body.size() & 1 ? "HTTP/1.1 204 No Content\r\n"
                                        : "HTTP/1.1 304 Not Modified\r\n";
    if (coding)
        head += coding == 1 ? "Content-Encoding: gzip\r\n" : "Content-Encoding: deflate\r\n";
    if (framing == ContentLength)
        head += "Content-Length: " + QByteArray::number(coded.size()) + "\r\n";
    if (framing == Chunked)
        head += "Transfer-Encoding: chunked\r\n";
    head += "\r\n";
    const QByteArray interims[] = {"", "HTTP/1.1 100 Continue\r\nConnection: close\r\n\r\n",
                                   "HTTP/1.1 199 X\r\nContent-Length: 12\r\n\r\n",
                                   "HTTP/1.1 150 X\r\nContent-Length: 9\r\n\r\nINTERIM!!"};
    const qsizetype padding = longTrailer ? (next(2) == 1 ? 16 : 96) * 1024 : 0;
    const QByteArray trailer = "X-Pad: " + QByteArray(padding, 'p') + "\r\n\r\n";
    const QByteArray framed
        = framing == Chunked ? chunked(coded, next(300)).chopped(2) + trailer : coded;
    const QByteArray reply = framing == AsItIs ? body : interims[interim] + head + framed;

    QByteArray scanned;
    ReplyScanner scanner;
    ReplyReader reader([&](QByteArrayView piece) {
        scanned += piece;
        scanner.Feed(piece);
    });
    for (qsizetype from = 0, length = 0; from < reply.size(); from += length) {
        length = std::min(next(97), reply.size() - from);
        reader.Feed(QByteArrayView(reply).sliced(from, length));
    }
    const bool ended = reader.Finish() == ReplyReader::State::Ended;
    bool right = ended && scanned == body;
    if (framing == AsItIs)
        right = (ended || !reader.failure().isEmpty()) && (reader.isHttp() || scanned == body);
    else if (interim == 3)
        right = !ended && scanned.isEmpty();
    else if (noBody)
        right = ended && scanned.isEmpty();
    else if (framing == Chunked && padding > ReplyReader::kMaxHeadSize)
        right = reader.failure().contains(u"trailer longer") && body.startsWith(scanned);
    scanner.End();
    const ScanOutcome whole = ScanArrival(QString::fromLatin1(scanned), QStringLiteral("vid"));
    if (!right || scanner.linkWhole() != whole.tokenFound || scanner.failFound() != whole.failFound
        || (whole.tokenFound && scanner.Link(u"vid") != whole.link))
        std::abort();
    return 0;
}
