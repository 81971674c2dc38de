#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QList>

#include <memory>

class QFile;

namespace standin {

struct HttpRequest {
    QByteArray method;
    QByteArray target;
    // The path, percent-decoded except for "%2F", which stays as it is so that
    // an encoded slash never separates segments; the query's parameters,
    // form-decoded.
    QByteArray path;
    QHash<QByteArray, QByteArray> query;
    // Header names in lower case; repeated fields joined with ", ".
    QHash<QByteArray, QByteArray> headers;
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // The validators of a body made in memory, when it has them: a strong
    // entity tag and the time it last changed, in whole seconds.
    QByteArray etag;
    QDateTime lastModified;
    // An open file sent as the body instead of body: streamed in blocks, with
    // single byte ranges, a strong ETag and Last-Modified.
    std::shared_ptr<QFile> file;
};

QByteArray reasonPhrase(int status);

// "Sun, 06 Nov 1994 08:49:37 GMT"
QByteArray httpDate(const QDateTime &time);

// A short HTML page that explains an error status.
HttpResponse errorPage(int status, const QByteArray &explanation);

} // namespace standin
