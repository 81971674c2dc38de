// Reads the Windows clipboard as another program would: for each of CF_TEXT,
// CF_UNICODETEXT and the URL formats UniformResourceLocator and
// UniformResourceLocatorW, one line "NAME<TAB>CONTENT" up to its NUL, or
// "NAME absent"; a wide character beyond Latin-1 is written \uXXXX.
// "clipboard_reader --empty" empties the clipboard instead. Exits 2 when the
// clipboard cannot be opened.
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <type_traits>
#include <windows.h>

namespace {

template <typename Character>
void print(const char *name, UINT format)
{
    HANDLE data = GetClipboardData(format);
    const auto *text = data ? static_cast<const Character *>(GlobalLock(data)) : nullptr;
    if (!text) {
        std::printf("%s absent\n", name);
        return;
    }
    std::printf("%s\t", name);
    const SIZE_T length = GlobalSize(data) / sizeof(Character);
    for (SIZE_T i = 0; i < length && text[i] != 0; ++i) {
        const unsigned unit = static_cast<std::make_unsigned_t<Character>>(text[i]);
        if (unit < 0x100)
            std::putchar(unit);
        else
            std::printf("\\u%04X", unit);
    }
    std::putchar('\n');
    GlobalUnlock(data);
}

} // namespace

int main(int argc, char *argv[])
{
    _setmode(_fileno(stdout), _O_BINARY); // lines end in LF alone
    // Another program may hold the clipboard for a moment (Wine's manager).
    int attempts = 50;
    while (!OpenClipboard(nullptr) && --attempts > 0)
        Sleep(100);
    if (attempts == 0)
        return 2;
    if (argc > 1 && std::strcmp(argv[1], "--empty") == 0) {
        const bool emptied = EmptyClipboard();
        return CloseClipboard() && emptied ? 0 : 2;
    }
    print<char>("CF_TEXT", CF_TEXT);
    print<wchar_t>("CF_UNICODETEXT", CF_UNICODETEXT);
    print<char>("UniformResourceLocator", RegisterClipboardFormatA("UniformResourceLocator"));
    print<wchar_t>("UniformResourceLocatorW", RegisterClipboardFormatA("UniformResourceLocatorW"));
    return CloseClipboard() ? 0 : 2;
}
