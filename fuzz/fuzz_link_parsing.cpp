// Any typed text: the id follows the first "v=" and holds none, the host starts
// the text after its scheme and holds no '/'; both go into the request as is,
// and nothing typed adds a line to the request or a word to its first line.
#include "expected.h"
#include "link_parsing.h"

#include <cstdint>
#include <cstdlib>

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const ParsedLink link = ParseVideoLink(text);
    const qsizetype id = text.indexOf(u"v=") + 2;
    const QByteArray request = ComposeInfoRequest(link.VideoId, link.host).toLatin1();
    const QByteArray requestLine = request.first(request.indexOf("\r\n"));
    if (link.ok()
        && (request.count('\r') != 9 || request.count('\n') != 9 || request.count("\r\n") != 9
            || !request.endsWith("\r\n\r\n") || requestLine.count(' ') != 2))
        std::abort();
    if (link.ok()
        && (text.sliced(id, link.VideoId.size()) != link.VideoId || link.VideoId.contains(u"v=")
            || !link.RequestLink.startsWith(link.host) || link.host.contains(u'/')
            || !text.contains(link.RequestLink) || link.RequestLink.contains(u"://")
            || request != expectedInfoRequest(link.VideoId.toLatin1(), link.host.toLatin1())))
        std::abort();
    return 0;
}
