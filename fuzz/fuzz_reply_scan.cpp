// Any reply in random pieces gives the link that the rule gives for the whole,
// and none before: a field follows its first marker up to the next '&'.
#include "expected.h"
#include "reply_scan.h"

#include <cstdint>
#include <cstdlib>
#include <optional>

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto check = [](bool condition) {
        if (!condition)
            std::abort();
    };
    if (size < 2)
        return 0;
    // The first two bytes choose the cuts; the rest is the reply.
    quint32 state = quint32(data[0]) << 8 | data[1];
    const std::string_view reply(reinterpret_cast<const char *>(data + 2), size - 2);
    const auto field = [reply](std::string_view marker) {
        const size_t at = reply.find(marker), from = at + marker.size();
        const size_t length = std::min(reply.find('&', from) - from, size_t(kMaxFieldLength));
        return at == reply.npos ? std::nullopt
                                : std::optional(QString::fromLatin1(reply.substr(from, length)));
    };
    const std::optional<QString> token = field("&token=");
    const QString link
        = token ? expectedDownloadLink("vid", *token, field("&title=").value_or("")) : QString();
    const bool failed = reply.find("status=fail") != reply.npos;

    const ScanOutcome whole = ScanArrival(QString::fromLatin1(reply), QStringLiteral("vid"));
    check(whole.tokenFound == bool(token) && whole.link == link && whole.failFound == failed);
    ReplyScanner scanner;
    for (size_t from = 0, length = 0; from < reply.size(); from += length) {
        state = state * 1103515245u + 12345u;
        length = std::min<size_t>(1 + (state >> 16) % 97, reply.size() - from);
        scanner.Feed(QByteArrayView(reply.substr(from, length)));
        check(!scanner.linkWhole() || scanner.Link(u"vid") == link);
    }
    scanner.End();
    check(scanner.linkWhole() == bool(token) && scanner.failFound() == failed);
    return 0;
}
