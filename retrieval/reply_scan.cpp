#include "reply_scan.h"

#include "constants.h"
#include "wire_text.h"

#include <algorithm>
#include <cstring>

namespace corvane {

namespace {

constexpr qsizetype kCarryLength
    = qsizetype(std::max({kTokenMarker.size(), kTitleMarker.size(), kFailMarker.size()})) - 1;

qsizetype find(std::string_view haystack, std::string_view needle)
{
#ifdef __GLIBC__
    // glibc's memmem is several times faster than a generic search here.
    const void *hit = memmem(haystack.data(), haystack.size(), needle.data(), needle.size());
    return hit ? static_cast<const char *>(hit) - haystack.data() : -1;
#else
    const size_t at = haystack.find(needle);
    return at == std::string_view::npos ? -1 : qsizetype(at);
#endif
}

// Where the first occurrence of the marker ends, counted in `arrival`, or -1.
// The occurrence may begin in `carry`, the end of what came before.
qsizetype findEnd(std::string_view marker, std::string_view carry, std::string_view arrival)
{
    const auto markerSize = qsizetype(marker.size());
    if (!carry.empty()) {
        char joined[2 * kCarryLength];
        const size_t head = std::min(arrival.size(), marker.size() - 1);
        std::memcpy(joined, carry.data(), carry.size());
        std::memcpy(joined + carry.size(), arrival.data(), head);
        const qsizetype at = find(std::string_view(joined, carry.size() + head), marker);
        if (at >= 0 && at < qsizetype(carry.size()))
            return at + markerSize - qsizetype(carry.size());
    }
    const qsizetype at = find(arrival, marker);
    return at < 0 ? -1 : at + markerSize;
}

QString ComposeDownloadLink(QStringView VideoId, QStringView token, QStringView title)
{
    QString link;
    link.reserve(64 + kLinkServiceHost.size() + VideoId.size() + token.size() + title.size());
    link.append(u"http://")
        .append(kLinkServiceHost)
        .append(u"/download/index.php?video_id=")
        .append(VideoId)
        .append(u"&id=")
        .append(token)
        .append(u"&n=")
        .append(title);
    return link;
}

} // namespace

ScanOutcome ScanArrival(QStringView arrival, const QString &VideoId)
{
    ReplyScanner scanner;
    scanner.Feed(TextToWire(arrival));
    scanner.End();
    ScanOutcome outcome;
    outcome.tokenFound = scanner.linkWhole();
    if (outcome.tokenFound)
        outcome.link = scanner.Link(VideoId);
    outcome.failFound = scanner.failFound();
    return outcome;
}

void ReplyScanner::Field::Scan(std::string_view bytes, std::string_view carry)
{
    if (complete_)
        return;
    qsizetype from = 0;
    if (!found_) {
        from = findEnd(marker_, carry, bytes);
        if (from < 0)
            return;
        found_ = true;
    }
    const auto *amp = static_cast<const char *>(
        std::memchr(bytes.data() + from, '&', bytes.size() - size_t(from)));
    complete_ = amp != nullptr;
    const qsizetype stop = complete_ ? amp - bytes.data() : qsizetype(bytes.size());
    const qsizetype taken = std::min(stop - from, kMaxFieldLength - value_.size());
    if (taken > 0)
        value_.append(bytes.data() + from, taken);
}

void ReplyScanner::Feed(QByteArrayView piece)
{
    if (piece.isEmpty() || ended_)
        return;
    const std::string_view bytes(piece.data(), size_t(piece.size()));
    const std::string_view carry(carry_.constData(), size_t(carry_.size()));
    token_.Scan(bytes, carry);
    title_.Scan(bytes, carry);
    if (!failFound_ && findEnd(kFailMarker, carry, bytes) >= 0)
        failFound_ = true;

    if (piece.size() >= kCarryLength) {
        carry_ = piece.last(kCarryLength).toByteArray();
    } else {
        carry_.append(piece);
        carry_.remove(0, std::max<qsizetype>(0, carry_.size() - kCarryLength));
    }
}

void ReplyScanner::End()
{
    ended_ = true;
    token_.End();
    title_.End();
}

bool ReplyScanner::linkWhole() const
{
    return token_.complete() && (title_.complete() || ended_);
}

QString ReplyScanner::Link(QStringView VideoId) const
{
    return ComposeDownloadLink(VideoId, TextFromWire(token_.value()), TextFromWire(title_.value()));
}

} // namespace corvane
