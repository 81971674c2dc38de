// Any typed text: the link parsing and the request it composes match an
// oracle written separately, on plain std::u16string, from the rules for a
// typed link: the video id is what follows the first "v=" up to the next one,
// the scheme is what comes before the first "://", and the host is what then
// comes before the first '/'.
#include "expected.h"
#include "link_parsing.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

using namespace corvane;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

struct Oracle {
    std::u16string message; // empty when the link is accepted
    std::optional<std::u16string> requestLink;
    std::u16string videoId;
    std::u16string host;
};

// What lies after the first `marker` up to its next occurrence or the end.
std::u16string afterFirst(const std::u16string &text, std::u16string_view marker)
{
    const size_t start = text.find(marker) + marker.size();
    const size_t next = text.find(marker, start);
    return text.substr(start, next == std::u16string::npos ? std::u16string::npos : next - start);
}

Oracle expect(const std::u16string &text)
{
    Oracle oracle;
    if (text.empty() || text == u"Type in Youtube video link") {
        oracle.message = u"Please type in a video URL in the field";
        return oracle;
    }
    oracle.requestLink = text;
    if (text.find(u"v=") == std::u16string::npos) {
        oracle.message = u"Please type in a valid youtube video link";
        return oracle;
    }
    oracle.videoId = afterFirst(text, u"v=");
    if (text.find(u"://") != std::u16string::npos)
        oracle.requestLink = afterFirst(text, u"://");
    oracle.host = oracle.requestLink->substr(0, oracle.requestLink->find(u'/'));
    return oracle;
}

// One byte a UTF-16 unit; what Latin-1 cannot hold goes as '?'.
QByteArray onWire(const std::u16string &text)
{
    QByteArray bytes;
    for (const char16_t unit : text)
        bytes += unit <= 0xFF ? static_cast<char>(static_cast<unsigned char>(unit)) : '?';
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text
        = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const Oracle oracle = expect(text.toStdU16String());
    const ParsedLink parsed = ParseVideoLink(text);

    check(parsed.error.toStdU16String() == oracle.message);
    check(parsed.RequestLink.isNull() == !oracle.requestLink);
    if (!oracle.message.empty()) {
        check(!oracle.requestLink || parsed.RequestLink.toStdU16String() == *oracle.requestLink);
        return 0;
    }
    check(parsed.RequestLink.toStdU16String() == *oracle.requestLink);
    check(parsed.VideoId.toStdU16String() == oracle.videoId);
    check(parsed.host.toStdU16String() == oracle.host);

    const QString request = ComposeInfoRequest(parsed.VideoId, parsed.host);
    check(request.toLatin1() == expectedInfoRequest(onWire(oracle.videoId), onWire(oracle.host)));
    return 0;
}
