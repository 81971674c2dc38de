#pragma once

#include "http_message.h"

#include <QHostAddress>

namespace standin {

// A request as the parser read it, before any check.
struct ParsedRequest {
    int major = 1;
    int minor = 1;
    QByteArray method;
    QByteArray target;
    // As received, in order; a value continued on a line of its own (an
    // obsolete folding) holds the CR LF that began that line.
    QList<std::pair<QByteArray, QByteArray>> fields;
};

// What becomes of a request: served by the handler, answered with an error
// page, or refused with an error page and a close.
struct RequestDecision {
    enum class Verdict {
        Serve,
        Answer, // an error page; the connection stays open
        Refuse, // an error page, then the connection closes
    };
    Verdict verdict = Verdict::Serve;
    int status = 0;
    QByteArray explanation;
    QList<std::pair<QByteArray, QByteArray>> headers; // of the error page
    // Read as far as the checks went: method, target, path, query, headers;
    // of a refused request, the method alone.
    HttpRequest request;
};

// Checks a request that arrived on a connection to local:port: the version,
// the header names and line foldings, Host, the method, the target's form
// (the origin form, or the absolute form naming this server) and the path's
// decoding.
RequestDecision decideRequest(ParsedRequest parsed, const QHostAddress &local, quint16 port);

} // namespace standin
