#include "wire_text.h"

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <algorithm>
#include <windows.h>
#endif

namespace corvane {

#ifdef Q_OS_WIN

namespace {

// The ANSI code page keeps one byte per character only when it is a
// single-byte one; a multi-byte one (UTF-8, or a double-byte Asian code
// page) would join bytes into characters and split characters into bytes,
// so Latin-1 stands in for it.
bool ansiCodePageIsSingleByte()
{
    static const bool singleByte = [] {
        CPINFO info{};
        return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
    }();
    return singleByte;
}

// The Windows calls take int counts: long texts go in slices.
constexpr qsizetype kSlice = 1 << 24;

} // namespace

QByteArray TextToWire(QStringView text)
{
    if (!ansiCodePageIsSingleByte())
        return text.toLatin1();
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype done = 0; done < text.size();) {
        const qsizetype count = std::min(kSlice, text.size() - done);
        const auto *from = reinterpret_cast<const wchar_t *>(text.utf16() + done);
        // Without best fit, a character the code page lacks becomes '?' (as
        // with Latin-1) instead of a look-alike, which could be a delimiter.
        const int written = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, from, int(count),
                                                bytes.data() + done, int(count), nullptr, nullptr);
        if (written != count) {
            // A surrogate pair gives one byte for two characters: one at a
            // time, each half becomes its own '?'.
            for (qsizetype i = 0; i < count; ++i) {
                if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, from + i, 1,
                                        bytes.data() + done + i, 1, nullptr, nullptr)
                    != 1)
                    bytes[done + i] = '?';
            }
        }
        done += count;
    }
    return bytes;
}

QString TextFromWire(QByteArrayView bytes)
{
    if (!ansiCodePageIsSingleByte())
        return QString::fromLatin1(bytes);
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype done = 0; done < bytes.size();) {
        const qsizetype count = std::min(kSlice, bytes.size() - done);
        auto *to = reinterpret_cast<wchar_t *>(text.data() + done);
        const int written
            = MultiByteToWideChar(CP_ACP, 0, bytes.data() + done, int(count), to, int(count));
        if (written != count)
            return QString::fromLatin1(bytes);
        done += count;
    }
    return text;
}

#else

QByteArray TextToWire(QStringView text)
{
    return text.toLatin1();
}

QString TextFromWire(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes);
}

#endif

} // namespace corvane
