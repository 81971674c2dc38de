// Any reply, cut into arbitrary pieces: whenever the scanner calls the link
// whole, it is the link that the whole reply gives by the rule, and at the
// end the scanner and the rule agree.
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose the cuts; the rest is the reply.
    quint32 state = quint32(data[0]) << 8 | data[1];
    const QByteArrayView reply(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    const QString videoId = QStringLiteral("vid");
    const ScanOutcome whole = scanOracle(QString::fromLatin1(reply), videoId);

    const ScanOutcome arrival = ScanArrival(QString::fromLatin1(reply), videoId);
    check(arrival.tokenFound == whole.tokenFound && arrival.link == whole.link
          && arrival.failFound == whole.failFound);

    ReplyScanner scanner;
    for (qsizetype from = 0; from < reply.size();) {
        state = state * 1103515245u + 12345u;
        const qsizetype length = std::min<qsizetype>(1 + (state >> 16) % 97, reply.size() - from);
        scanner.Feed(reply.sliced(from, length));
        check(!scanner.linkWhole() || scanner.Link(videoId) == whole.link);
        from += length;
    }
    scanner.End();
    check(scanner.linkWhole() == whole.tokenFound);
    check(!whole.tokenFound || scanner.Link(videoId) == whole.link);
    check(scanner.failFound() == whole.failFound);
    return 0;
}
