#pragma once

#include "http_server.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>

namespace standin {

QByteArray reasonPhrase(int status);

// "Sun, 06 Nov 1994 08:49:37 GMT"
QByteArray httpDate(const QDateTime &time);

// A short HTML page that explains an error status.
HttpResponse errorPage(int status, const QByteArray &explanation);

// What a Range header asks of a representation of a given size.
struct ByteRange {
    enum Kind {
        Whole,       // no usable range: send the whole representation (200)
        Part,        // one satisfiable range: first..last (206)
        Unsatisfied, // a malformed or unsatisfiable byte range (416)
    };
    Kind kind = Whole;
    qint64 first = 0;
    qint64 last = 0;
};

// Reads a Range header as RFC 9110 asks: another unit than "bytes" and a
// set of several ranges are ignored (the whole is sent); a byte range that
// does not follow the grammar ("bytes=+1-+3", "bytes=5-2") or that lies
// beyond the end is not satisfied.
ByteRange parseRange(QByteArrayView header, qint64 size);

// Whether an If-Range value names the current representation: a strong
// entity tag equal to etag, or exactly its Last-Modified date.
bool ifRangeMatches(QByteArrayView ifRange, QByteArrayView etag, QByteArrayView lastModified);

} // namespace standin
