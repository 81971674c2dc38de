#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <string_view>

namespace corvane {

inline constexpr std::string_view kTokenMarker = "&token=";
inline constexpr std::string_view kTitleMarker = "&title=";
inline constexpr std::string_view kFailMarker = "status=fail";

// A token or title longer than this is kept cut to this length, so that a
// peer cannot make the program hold an unbounded reply.
inline constexpr qsizetype kMaxFieldLength = 64 * 1024;

struct ScanOutcome {
    // A whole token, and the title if there is one, were found.
    bool tokenFound = false;
    // The composed download link, when tokenFound.
    QString link;
    bool failFound = false;
};

// Scans a whole reply given as text, one character per byte: the token and
// the title run to the next '&' or to the end of the text.
ScanOutcome ScanArrival(QStringView arrival, const QString &VideoId);

// Scans a reply piece by piece as it arrives, with constant work per byte and
// bounded memory: only the token, the title and the last few bytes are kept.
// The first occurrence of each marker in the reply counts. A token or title
// is whole once the '&' after it has come, or the reply has ended.
class ReplyScanner {
public:
    void Feed(QByteArrayView bytes);
    // The reply has ended: a token or title still open ends with it.
    void End();
    void Reset() { *this = ReplyScanner(); }

    // A whole token has come, and a whole title, or the reply ended without
    // one: the link can be composed.
    bool linkWhole() const;
    bool failFound() const { return failFound_; }
    QString Link(QStringView VideoId) const;

private:
    // The value after the first occurrence of a marker, up to the next '&'.
    class Field {
    public:
        explicit Field(std::string_view marker)
            : marker_(marker)
        {
        }
        // Scans the next bytes of the reply; `carry` holds the bytes just
        // before them, where a marker cut by the boundary begins.
        void Scan(std::string_view bytes, std::string_view carry);
        void End() { complete_ = found_; }
        bool found() const { return found_; }
        bool complete() const { return complete_; }
        const QByteArray &value() const { return value_; }

    private:
        std::string_view marker_;
        bool found_ = false;
        bool complete_ = false;
        QByteArray value_;
    };

    Field token_{kTokenMarker};
    Field title_{kTitleMarker};
    bool failFound_ = false;
    bool ended_ = false;
    // The tail of the reply so far, long enough to hold all but the last
    // byte of any marker cut by the next piece's boundary.
    QByteArray carry_;
};

} // namespace corvane
