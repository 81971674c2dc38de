#pragma once

#include <QString>
#include <QStringView>

namespace corvane {

inline constexpr QLatin1StringView kPlaceholderText{"Type in Youtube video link"};
inline constexpr QLatin1StringView kEmptyLinkMessage{"Please type in a video URL in the field"};
inline constexpr QLatin1StringView kInvalidLinkMessage{"Please type in a valid youtube video link"};

// Piece n of text cut at every occurrence of delimiter (left to right, no
// overlap, case-sensitive): piece 0 lies before the first occurrence, piece n
// between the n-th and the (n+1)-th, the last one after the last occurrence.
// A piece that does not exist is an empty string.
QString SplitPiece(QStringView text, QStringView delimiter, qsizetype n);

struct ParsedLink {
    // Empty when the link was accepted, else the message to show.
    QString error;
    // What RequestLink becomes: the typed text, without its scheme once accepted.
    // Null when the text was rejected before it was taken (empty or placeholder).
    QString RequestLink;
    QString VideoId;
    QString host;

    bool ok() const { return error.isEmpty(); }
};

// Checks the typed link and takes the video id and the host out of it; has no
// side effects. White space around the link is dropped; a link that still holds
// a space or a control character is refused, so that nothing typed or pasted
// can add to the request or split it.
ParsedLink ParseVideoLink(const QString &text);

// The info request: nine CR LF ended lines, the last one empty. VideoId and host
// are inserted as they are; every character goes on the wire as one byte.
QString ComposeInfoRequest(const QString &VideoId, const QString &host);

} // namespace corvane
