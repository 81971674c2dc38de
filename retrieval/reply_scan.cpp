#include "reply_scan.h"

#include "constants.h"

#include <algorithm>

namespace corvane {

namespace {
constexpr qsizetype kCarryLength
    = std::max({kTokenMarker.size(), kTitleMarker.size(), kFailMarker.size()}) - 1;
} // namespace

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

ScanOutcome ScanArrival(QStringView arrival, const QString &VideoId)
{
    return ReplyScanner().Feed(arrival, VideoId);
}

bool ReplyScanner::Field::Scan(QStringView text, qsizetype seen)
{
    if (complete_)
        return false;
    bool changed = false;
    qsizetype from = seen;
    if (!found_) {
        // A marker lying wholly in the part seen before would have been found then.
        const qsizetype at = text.indexOf(marker_);
        if (at < 0)
            return false;
        found_ = changed = true;
        from = at + marker_.size();
    }
    const qsizetype end = text.indexOf(u'&', from);
    complete_ = end >= 0;
    const qsizetype stop = complete_ ? end : text.size();
    const qsizetype room = kMaxFieldLength - value_.size();
    const qsizetype taken = std::min(stop - from, room);
    if (taken > 0) {
        value_.append(text.sliced(from, taken));
        changed = true;
    }
    return changed;
}

ScanOutcome ReplyScanner::Feed(QStringView arrival, const QString &VideoId)
{
    QString text;
    text.reserve(carry_.size() + arrival.size());
    text.append(carry_).append(arrival);
    const qsizetype seen = carry_.size();

    const bool tokenChanged = token_.Scan(text, seen);
    const bool titleChanged = title_.Scan(text, seen);

    ScanOutcome outcome;
    if (token_.found()) {
        if (tokenChanged || titleChanged || VideoId != linkVideoId_ || link_.isNull()) {
            link_ = ComposeDownloadLink(VideoId, token_.value(), title_.value());
            linkVideoId_ = VideoId;
        }
        outcome.tokenFound = true;
        outcome.link = link_;
    }
    if (!failFound_ && text.indexOf(kFailMarker) >= 0)
        failFound_ = outcome.failFound = true;

    carry_ = text.right(kCarryLength);
    return outcome;
}

} // namespace corvane
