// The wire's text on Windows: bytes and characters convert through the ANSI
// code page while it is a single-byte one, else through Latin-1; a typed link's
// request goes through it as on Linux. Run under
// Wine once a code page: tst_wire_text EXPECTED-CODE-PAGE (1252, 1251, 932, 65001).
// Prints one line a check and "N passed, N failed".
#include "link_parsing.h"
#include "plain_check.h"
#include "wire_text.h"

#include <QList>

#include <cstdlib>
#include <string>
#include <tuple>
#include <windows.h>

int main(int argc, char *argv[])
{
    const UINT acp = GetACP();
    plain_check::check(acp == std::strtoul(argc > 1 ? argv[1] : "1252", nullptr, 10),
                       ("the ANSI code page is " + std::to_string(acp)).c_str());

    // What the case is, the bytes on the wire, the text in the program, and
    // whether the text also comes from exactly these bytes.
    QList<std::tuple<const char *, QByteArray, QString, bool>> cases{
        {"ASCII stays as it is", "GET /a HTTP/1.1\r\n", u"GET /a HTTP/1.1\r\n"_qs, true},
        {"an empty text is no bytes", "", QString(), true},
        {"a surrogate pair goes as two '?'", "a??b", u"a\U0001F600b"_qs, false},
    };
    // The first two lines of the request that a typed link makes.
    const auto requestOf = [](const QString &link) {
        const corvane::ParsedLink parsed = corvane::ParseVideoLink(link);
        const QString request = corvane::ComposeInfoRequest(parsed.VideoId, parsed.host);
        return request.first(request.indexOf(u"\r\nUser-Agent"));
    };
    if (acp == 1252) {
        cases += {{"an LRM after the link is not sent",
                   "GET /get_video_info?video_id=Caf\xE9 HTTP/1.1\r\nHost: h",
                   requestOf(u"http://h/w?v=Caf\u00E9\u200E"_qs), false},
                  {"an IDN host goes in its ASCII form",
                   "GET /get_video_info?video_id=a HTTP/1.1\r\nHost: xn--bcher-kva.example",
                   requestOf(u"http://b\u00FCcher.example/w?v=a"_qs), false}};
        cases += {{"0xE9 is e acute", "Caf\xE9", u"Caf\u00E9"_qs, true},
                  {"0x80 is the euro sign, not U+0080", "\x80", u"\u20AC"_qs, true},
                  {"a character 1252 lacks goes as '?'", "?", u"\u0439"_qs, false},
                  {"no best fit: A macron goes as '?', not 'A'", "?", u"\u0100"_qs, false}};
    } else if (acp == 1251) {
        cases += {{"0xE9 is the Cyrillic short i", "Caf\xE9", u"Caf\u0439"_qs, true},
                  {"a character 1251 lacks goes as '?'", "?", u"\u00E9"_qs, false}};
    } else {
        // A multi-byte code page would take 0xE9 and the '&' after it as one
        // character: Latin-1 keeps them two.
        cases
            += {{"0xE9 and '&' stay two characters, Latin-1", "Caf\xE9&n", u"Caf\u00E9&n"_qs, true},
                {"0x80 is U+0080, Latin-1", "\x80", u"\u0080"_qs, true},
                {"a character Latin-1 lacks goes as '?'", "?", u"\u30FB"_qs, false}};
    }
    // Every byte value is one character and comes back as itself, also in a
    // text long enough to need several calls.
    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    const QString allText = corvane::TextFromWire(all),
                  big = corvane::TextFromWire(all.repeated(80 * 1024));
    cases += {{"each of the 256 bytes is one character and comes back", all,
               allText.size() == 256 ? allText : QString(), false},
              {"20 MiB of bytes come back unchanged", all.repeated(80 * 1024), big, false}};

    for (const auto &[what, bytes, text, both] : cases) {
        if (both)
            plain_check::check(corvane::TextFromWire(bytes) == text,
                               (std::string("from the wire: ") + what).c_str());
        plain_check::check(corvane::TextToWire(text) == bytes,
                           (std::string("to the wire: ") + what).c_str());
    }
    return plain_check::finish();
}
