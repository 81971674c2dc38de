#pragma once

#include <QString>
#include <QStringView>

namespace corvane {

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
    // The host as the Host line carries it: as typed, a name beyond ASCII in
    // its ASCII form.
    QString host;
    // Where the socket connects: the host, an IPv6 literal without brackets.
    QString address;

    bool ok() const { return error.isEmpty(); }
};

// Checks the typed link and takes the video id and the host out of it; has no
// side effects. White space and invisible format marks around the link are
// dropped; a link that still holds a space, a line or paragraph separator, a
// control character or a format mark of any script is refused, so that
// nothing typed or pasted can add to the request or split it, and what is
// sent is what the box shows. A host without an ASCII form is refused too.
ParsedLink ParseVideoLink(const QString &text);

// Where the socket connects for this host: an IPv6 literal in brackets is
// the address inside them; any other host is taken as it is.
QString ConnectionAddress(const QString &host);

// The info request: nine CR LF ended lines, the last one empty. VideoId and host
// are inserted as they are; every character goes on the wire as one byte.
QString ComposeInfoRequest(const QString &VideoId, const QString &host);

} // namespace corvane
