// Any typed text: the id follows the first "v=" and holds none, the host starts
// the text after its scheme and holds no '/'; both go into the request as is,
// but for a host beyond ASCII, which goes in its ASCII form. Nothing typed adds
// a line to the request or a word to its first line, and nothing unseen (a
// control character, a Unicode space, a format mark) reaches the wire.
#include "expected.h"
#include "link_parsing.h"

#include <QByteArrayList>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

using namespace corvane;

namespace {

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
}

// No blank, control character, C1 control, no-break space or soft hyphen.
bool allVisible(QByteArrayView bytes)
{
    return std::none_of(bytes.begin(), bytes.end(), [](char c) {
        const auto b = uchar(c);
        return b < 0x21 || (b >= 0x7F && b <= 0xA0) || b == 0xAD;
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const ParsedLink link = ParseVideoLink(text);
    if (!link.ok())
        return 0;
    const qsizetype id = text.indexOf(u"v=") + 2;
    const QByteArray request = ComposeInfoRequest(link.VideoId, link.host).toLatin1();
    const QList<QByteArray> lines = request.split('\n');
    const QByteArray requestLine = lines[0].chopped(1);
    const QByteArray hostLine = lines[1].chopped(1);
    if (request.count('\r') != 9 || request.count('\n') != 9 || request.count("\r\n") != 9
        || !request.endsWith("\r\n\r\n") || requestLine.count(' ') != 2
        || !allVisible(QByteArray(requestLine).replace(' ', QByteArray()))
        || !hostLine.startsWith("Host: ") || !allVisible(hostLine.sliced(6)) || !isAscii(hostLine))
        std::abort();
    const QString typedHost = SplitPiece(link.RequestLink, u"/", 0);
    const bool typedInAscii = std::all_of(typedHost.begin(), typedHost.end(),
                                          [](QChar c) { return c.unicode() < 0x80; });
    if (text.sliced(id, link.VideoId.size()) != link.VideoId || link.VideoId.contains(u"v=")
        || (typedInAscii && typedHost != link.host) || link.host.contains(u'/')
        || !text.contains(link.RequestLink) || link.RequestLink.contains(u"://")
        || request != expectedInfoRequest(link.VideoId.toLatin1(), link.host.toLatin1()))
        std::abort();
    return 0;
}
