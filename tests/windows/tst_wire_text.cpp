// The wire's text on Windows: bytes and characters convert through the ANSI
// code page while it is a single-byte one, else through Latin-1. Run under
// Wine once a code page: tst_wire_text EXPECTED-CODE-PAGE (1252, 1251, 932).
// Prints one line a check and "N passed, N failed".
#include "plain_check.h"
#include "wire_text.h"

#include <QList>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <windows.h>

namespace {

using plain_check::check;

QString chars(std::initializer_list<char16_t> units)
{
    QString text;
    for (const char16_t unit : units)
        text += QChar(unit);
    return text;
}

struct Case {
    const char *what;
    QByteArray bytes; // on the wire
    QString text;     // in the program
    bool both;        // the text also goes back to exactly these bytes
};

} // namespace

int main(int argc, char *argv[])
{
    const UINT expected = argc > 1 ? UINT(std::strtoul(argv[1], nullptr, 10)) : 1252;
    const UINT acp = GetACP();
    std::printf("ANSI code page %u\n", acp);
    check(acp == expected, "the ANSI code page is the one the locale asks for");

    QList<Case> cases{
        {"ASCII stays as it is", "GET /get_video_info?video_id=a HTTP/1.1\r\n",
         QStringLiteral("GET /get_video_info?video_id=a HTTP/1.1\r\n"), true},
        {"an empty text is no bytes", "", QString(), true},
        {"a surrogate pair goes as two '?'", "a??b", chars({u'a', 0xD83D, 0xDE00, u'b'}), false},
    };
    if (acp == 1252) {
        cases.append({"0xE9 is e acute", "Caf\xE9", chars({u'C', u'a', u'f', 0xE9}), true});
        cases.append({"0x80 is the euro sign, not U+0080", "\x80", chars({0x20AC}), true});
        cases.append({"a character 1252 lacks goes as '?'", "?", chars({0x0439}), false});
        cases.append({"no best fit: A macron goes as '?', not 'A'", "?", chars({0x0100}), false});
    } else if (acp == 1251) {
        cases.append(
            {"0xE9 is the Cyrillic short i", "Caf\xE9", chars({u'C', u'a', u'f', 0x0439}), true});
        cases.append({"a character 1251 lacks goes as '?'", "?", chars({0xE9}), false});
    } else {
        // A multi-byte code page would take 0xE9 and the '&' after it as one
        // character: Latin-1 keeps them two.
        cases.append({"0xE9 and '&' stay two characters, Latin-1", "Caf\xE9&n",
                      chars({u'C', u'a', u'f', 0xE9, u'&', u'n'}), true});
        cases.append({"0x80 is U+0080, Latin-1", "\x80", chars({0x80}), true});
        cases.append({"a character Latin-1 lacks goes as '?'", "?", chars({0x30FB}), false});
    }
    for (const Case &c : cases) {
        if (c.both)
            check(corvane::TextFromWire(c.bytes) == c.text,
                  (std::string("from the wire: ") + c.what).c_str());
        check(corvane::TextToWire(c.text) == c.bytes,
              (std::string("to the wire: ") + c.what).c_str());
    }

    // Every byte value is one character and comes back as itself, also in
    // texts long enough to need several calls.
    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    const QString text = corvane::TextFromWire(all);
    check(text.size() == 256, "256 bytes are 256 characters");
    check(corvane::TextToWire(text) == all, "and give the same 256 bytes back");
    const QByteArray big = all.repeated(80 * 1024); // 20 MiB
    const QString bigText = corvane::TextFromWire(big);
    check(bigText.size() == big.size() && corvane::TextToWire(bigText) == big,
          "20 MiB of bytes come back unchanged");

    return plain_check::finish();
}
