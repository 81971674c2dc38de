// A body compressed and framed as servers do it, in random pieces: the head
// comes out as it came, the body as it was. Inputs of the last kind go in as
// they are: bare text comes out whole, anything else ends or fails, saying why.
#include "http_bodies.h"
#include "reply_reader.h"

#include <cstdint>
#include <cstdlib>

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    // First byte: framing, coding and an interim response; the next two
    // choose the cuts; the rest is the body.
    enum { ContentLength, Chunked, ToTheClose, AsItIs };
    const int framing = data[0] & 3, coding = (data[0] >> 2) & 3;
    quint32 state = quint32(data[1]) << 8 | data[2];
    const auto next = [&state](quint32 bound) {
        state = state * 1103515245u + 12345u;
        return qsizetype(1 + (state >> 16) % bound);
    };
    const QByteArray body(reinterpret_cast<const char *>(data + 3), qsizetype(size - 3));
    const int windowBits[] = {0, 16 + MAX_WBITS, MAX_WBITS, -MAX_WBITS};
    const QByteArray coded = coding ? compressed(body, windowBits[coding]) : body;
    QByteArray head = "HTTP/1.1 200 OK\r\n";
    if (coding)
        head += coding == 1 ? "Content-Encoding: gzip\r\n" : "Content-Encoding: deflate\r\n";
    if (framing == ContentLength)
        head += "Content-Length: " + QByteArray::number(coded.size()) + "\r\n";
    if (framing == Chunked)
        head += "Transfer-Encoding: chunked\r\n";
    head += "\r\n";
    const QByteArray reply = framing == AsItIs
                                 ? body
                                 : (data[0] & 16 ? "HTTP/1.1 100 Continue\r\n\r\n" : "") + head
                                       + (framing == Chunked ? chunked(coded, next(300)) : coded);

    QByteArray scanned;
    ReplyReader reader([&scanned](QByteArrayView piece) { scanned += piece; });
    for (qsizetype from = 0, length = 0; from < reply.size(); from += length) {
        length = std::min(next(97), reply.size() - from);
        reader.Feed(QByteArrayView(reply).sliced(from, length));
    }
    const bool ended = reader.Finish() == ReplyReader::State::Ended;
    if (framing == AsItIs
            ? !(ended || !reader.failure().isEmpty()) || !(reader.isHttp() || scanned == body)
            : !ended || scanned != head + body)
        std::abort();
    return 0;
}
