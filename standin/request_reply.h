#pragma once

#include "request_parser.h"

#include <functional>

namespace standin {

using RequestHandler = std::function<HttpResponse(const HttpRequest &)>;

// What a connection sends once its parser has read a whole request or
// refused one, before any I/O.
struct Reply {
    HttpResponse response; // the handler's, or an error page
    HttpRequest request;   // what it answers, as far as it was read
    bool close = false;    // whether the connection ends after it
};

// The reply to what parser.parse() returned (anything but Partial) for a
// request that arrived on a connection to local:port: a refusal closes, a
// request the checks take goes to handler.
Reply replyTo(RequestParser &parser, RequestParser::Result result, const RequestHandler &handler,
              const QHostAddress &local, quint16 port);

} // namespace standin
