#pragma once

#include "http_message.h"

namespace standin {

// What tells one version of a representation from another: a strong entity
// tag and the time of its last change, in whole seconds.
struct Validators {
    QByteArray etag;
    QDateTime lastModified;
};

// An HTTP-date in any of its three forms: "Sun, 06 Nov 1994 08:49:37 GMT",
// "Sunday, 06-Nov-94 08:49:37 GMT" or "Sun Nov  6 08:49:37 1994"; an
// invalid time for anything else.
QDateTime parseHttpDate(QByteArrayView text);

enum class Precondition {
    Proceed,
    NotModified, // 304
    Failed,      // 412
};

// The conditional fields of a GET or HEAD request, in the order RFC 9110
// (section 13.2.2) gives: If-Match, else If-Unmodified-Since; then
// If-None-Match, else If-Modified-Since. A date that cannot be read is
// ignored, but an If-Match that names no current tag fails, also when it is
// empty, and an empty If-None-Match still puts If-Modified-Since aside.
Precondition evaluatePreconditions(const HttpRequest &request, const Validators &current);

// Whether an If-Range value names the current representation: its strong
// entity tag, or exactly its Last-Modified date.
bool ifRangeHolds(QByteArrayView ifRange, const Validators &current);

} // namespace standin
