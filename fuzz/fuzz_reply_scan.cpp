// Any reply, cut into arbitrary pieces: the scanner reports what it reports
// for the whole reply in one arrival.
#include "constants.h"
#include "reply_scan.h"

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
    const QString reply = QString::fromLatin1(reinterpret_cast<const char *>(data + 2),
                                              static_cast<qsizetype>(size - 2));
    const QString videoId = QStringLiteral("vid");
    const ScanOutcome whole = ScanArrival(reply, videoId);

    ReplyScanner scanner;
    ScanOutcome last;
    int failReports = 0;
    for (qsizetype from = 0; from < reply.size();) {
        state = state * 1103515245u + 12345u;
        const qsizetype length = std::min<qsizetype>(1 + (state >> 16) % 97, reply.size() - from);
        const ScanOutcome outcome = scanner.Feed(QStringView(reply).sliced(from, length), videoId);
        check(!last.tokenFound || outcome.tokenFound); // once found, it stays found
        last = outcome;
        failReports += outcome.failFound ? 1 : 0;
        from += length;
    }
    check(last.tokenFound == whole.tokenFound);
    check(last.link == whole.link);
    check(failReports == (whole.failFound ? 1 : 0));
    if (whole.tokenFound) {
        check(whole.link.startsWith(QStringLiteral("http://") + kLinkServiceHost
                                    + QStringLiteral("/download/index.php?video_id=vid&id=")));
    }
    return 0;
}
