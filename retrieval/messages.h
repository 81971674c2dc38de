#pragma once

#include <QLatin1StringView>
#include <QString>

// Every text the program shows the user, in one place: the captions of the
// status line and the link label, and each message of the error box. Those
// that name something take it as an argument.
namespace corvane {

// The text box's own text before anything is typed in it.
inline constexpr QLatin1StringView kPlaceholderText{"Type in Youtube video link"};

// The status line (Label2) and the link label (Label1).
inline constexpr QLatin1StringView kWaitingCaption{"Getting the download link.. Please wait.."};
inline constexpr QLatin1StringView kLinkFoundCaption{"Download link:"};
inline constexpr QLatin1StringView kLinkCaption{"Click Here To Download The Video"};

// The typed link.
inline constexpr QLatin1StringView kEmptyLinkMessage{"Please type in a video URL in the field"};
inline constexpr QLatin1StringView kInvalidLinkMessage{"Please type in a valid youtube video link"};

// The connection. Every other socket failure is shown in the socket's own
// words.
inline constexpr QLatin1StringView kConnectTimedOutMessage{"Connection timed out"};

// The reply.
inline constexpr QLatin1StringView kInvalidVideoMessage{
    "Invalid Youtube video, Please check and try again."};
inline constexpr QLatin1StringView kNoAnswerMessage{"The video site did not answer in time."};
inline constexpr QLatin1StringView kClosedWithoutAnswerMessage{
    "The video site closed the connection without answering."};
inline constexpr QLatin1StringView kNoVideoInfoMessage{
    "The video site's reply held no video info."};
inline constexpr QLatin1StringView kReplyCutShortMessage{
    "The video site closed the connection before its reply was complete."};
// The status code, its reason and where a redirect points, each as the peer
// gave it (empty when it gave none).
QString AnsweredInsteadMessage(int status, const QString &reason, const QString &location);
// SECTION: "head" or "trailer".
QString ReplySectionTooLongMessage(QLatin1StringView section, qsizetype limitKiB);
QString ReplyNotHttpMessage(const QString &parserReason);
QString ReplyChunksDamagedMessage(const QString &parserReason);
QString ReplyUnreadableMessage(const QString &parserReason);
QString ReplyCodingUnknownMessage(const QString &coding);
// PROBLEM: one of the decoder's problems below, or zlib's own words.
QString ReplyDecodingFailedMessage(const QString &problem);

// The system's opener, for the download link.
QString LinkTooLongMessage(qsizetype length, qsizetype longest);
inline constexpr QLatin1StringView kLinkNotOpenedMessage{
    "The system could not open the download link."};
// REASON: one of the shell's reasons below, on Windows.
QString LinkNotOpenedMessage(const QString &reason);
inline constexpr QLatin1StringView kShellOutOfMemory{"the system is out of memory"};
inline constexpr QLatin1StringView kShellBrowserNotFound{
    "the program set to open web links was not found"};
inline constexpr QLatin1StringView kShellAccessDenied{"access was denied"};
inline constexpr QLatin1StringView kShellNoBrowser{"no program is set to open web links"};
inline constexpr QLatin1StringView kShellBrowserNotAProgram{
    "the program set to open web links is not a valid program"};
inline constexpr QLatin1StringView kShellBrowserSilent{
    "the program set to open web links did not answer"};
inline constexpr QLatin1StringView kShellFileInUse{"a file it needs is in use"};
inline constexpr QLatin1StringView kShellLibraryMissing{"a library it needs is missing"};
QString ShellErrorNumber(long long number);

// What is wrong with a compressed reply, completed by the coding's name.
QString DamagedDataProblem(QLatin1StringView coding, const QString &detail);
inline constexpr QLatin1StringView kInflaterNotStarted{"zlib could not start"};
inline constexpr QLatin1StringView kDataLeftOver{"data left that zlib would not take"};
inline constexpr QLatin1StringView kDataStopsAfterOneByte{"the data stops after one byte"};
inline constexpr QLatin1StringView kDataStopsShort{"the data stops short"};

} // namespace corvane
