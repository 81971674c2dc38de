// Any typed text: the link parsing keeps its rules, and the request it
// composes is one byte per character with the fixed lines around the input.
#include "link_parsing.h"

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
    const QString text
        = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const ParsedLink parsed = ParseVideoLink(text);

    if (text.isEmpty() || text == kPlaceholderText) {
        check(parsed.error == kEmptyLinkMessage && parsed.RequestLink.isNull());
        return 0;
    }
    if (!text.contains(u"v=")) {
        check(parsed.error == kInvalidLinkMessage && parsed.RequestLink == text);
        return 0;
    }
    check(parsed.ok());
    check(parsed.VideoId == SplitPiece(text, u"v=", 1));
    check(!parsed.VideoId.contains(u"v="));
    check(!parsed.host.contains(u'/'));
    check(text.contains(parsed.RequestLink) && text.contains(parsed.host));

    const QString request = ComposeInfoRequest(parsed.VideoId, parsed.host);
    const QByteArray bytes = request.toLatin1();
    check(bytes.size() == request.size());
    check(bytes.startsWith("GET /get_video_info?video_id=" + parsed.VideoId.toLatin1()
                           + " HTTP/1.1\r\nHost: " + parsed.host.toLatin1() + "\r\n"));
    check(bytes.endsWith("\r\nConnection: keep-alive\r\n\r\n"));
    return 0;
}
