#pragma once

#include <QByteArray>
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
    bool tokenFound = false;
    // The composed download link, when tokenFound.
    QString link;
    bool failFound = false;
};

// "http://", the link-service host, then the download path with the video id,
// the token and the title inserted as they are.
QString ComposeDownloadLink(QStringView VideoId, QStringView token, QStringView title);

// Scans one arrival on its own.
ScanOutcome ScanArrival(QStringView arrival, const QString &VideoId);

// Scans the reply of one connection arrival by arrival, with the same results
// as scanning the whole text received so far at each arrival, but with
// constant work per character and bounded memory: only the token, the title
// and the last few characters are kept.
class ReplyScanner {
public:
    // The outcome for the text received so far: tokenFound and the link once it
    // holds the token marker; failFound only for the arrival that brings the
    // first failure marker.
    ScanOutcome Feed(QStringView arrival, const QString &VideoId);

    void Reset() { *this = ReplyScanner(); }

private:
    // The value after the first occurrence of a marker, up to the next '&'.
    class Field {
    public:
        explicit Field(std::string_view marker)
            : marker_(marker)
        {
        }
        // Scans an arrival, given as its Latin-1 bytes and as text, after
        // `carry`, the end of what came before; true when the field was
        // found or grew.
        bool Scan(std::string_view bytes, QStringView arrival, std::string_view carry);
        bool found() const { return found_; }
        const QString &value() const { return value_; }

    private:
        std::string_view marker_;
        bool found_ = false;
        bool complete_ = false;
        QString value_;
    };

    Field token_{kTokenMarker};
    Field title_{kTitleMarker};
    bool failFound_ = false;
    // The tail of the reply so far, as bytes, long enough to hold all but the
    // last character of any marker cut by the next arrival's boundary.
    QByteArray carry_;
    QString link_;
    QString linkVideoId_;
};

} // namespace corvane
