#pragma once

#include "expected.h"
#include "link_parsing.h"
#include "reply_scan.h"

// What a whole reply gives, written from the rule itself rather than from the
// stream scanner: the token is SplitPiece(SplitPiece(whole, "&token=", 1), "&",
// 0), the title likewise when the reply holds "&title=", each kept to
// kMaxFieldLength.
inline corvane::ScanOutcome scanOracle(const QString &whole, const QString &videoId)
{
    using corvane::SplitPiece;
    const auto field = [&](const QString &marker) {
        return SplitPiece(SplitPiece(whole, marker, 1), u"&", 0).left(corvane::kMaxFieldLength);
    };
    corvane::ScanOutcome outcome;
    outcome.tokenFound = whole.contains(u"&token=");
    if (outcome.tokenFound) {
        const QString title
            = whole.contains(u"&title=") ? field(QStringLiteral("&title=")) : QString();
        outcome.link = expectedDownloadLink(videoId, field(QStringLiteral("&token=")), title);
    }
    outcome.failFound = whole.contains(u"status=fail");
    return outcome;
}
