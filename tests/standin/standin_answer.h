#pragma once

// The stand-in's answer to a request's bytes, without a socket (see answerTo).
#include "answer_composition.h"
#include "request_reply.h"

namespace standin {

// A file of 1000 bytes last changed on Sun, 06 Nov 1994 08:49:37.000000005 GMT.
const FileFacts kFile{1000, 0x2a, 784111777, 5};
const QDateTime kModified = QDateTime::fromSecsSinceEpoch(784111777, Qt::UTC);

// What a request was read as: its path, then "?NAME=VALUE" and fields but Host, sorted.
inline QByteArray describe(const HttpRequest &request)
{
    QByteArrayList words;
    for (auto it = request.query.cbegin(); it != request.query.cend(); ++it)
        words << '?' + it.key() + '=' + it.value();
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it) {
        if (it.key() != "host")
            words << it.key() + ": " + it.value();
    }
    std::sort(words.begin(), words.end());
    return (request.path + ' ' + words.join(' ')).trimmed();
}

// Serves kFile as the download, an info with validators, and else 404; each
// with X-Request saying what the request was read as.
inline HttpResponse serve(const HttpRequest &request)
{
    HttpResponse response = errorPage(404, {});
    if (request.path == "/download/index.php")
        response = HttpResponse();
    if (request.path == "/get_video_info") {
        response = HttpResponse();
        response.etag = "\"i\"";
        response.lastModified = kModified;
    }
    response.headers = {{"X-Request", describe(request)}};
    return response;
}

// The stand-in's answer to bytes, as a connection gives it, with serve() as
// the handler; none (status 0) to a request not whole. The bytes come in
// pieces: the first ends at cut (when not 0), the rest come step at a time.
inline ComposedAnswer answerTo(const QByteArray &bytes, qsizetype cut, qsizetype step)
{
    RequestParser parser;
    auto result = RequestParser::Result::Partial;
    for (qsizetype from = 0, end = cut ? cut : step;
         result == RequestParser::Result::Partial && from < bytes.size(); from = end, end += step) {
        qsizetype taken = 0;
        const QByteArray piece = bytes.sliced(from, std::min(end, bytes.size()) - from);
        result = parser.parse(piece.data(), piece.size(), taken);
    }
    if (result == RequestParser::Result::Partial)
        return {};
    const Reply reply = replyTo(parser, result, &serve, QHostAddress::LocalHost, 80);
    const bool download = reply.request.path == "/download/index.php";
    return composeAnswer(reply.response, download ? &kFile : nullptr, reply.request, reply.close,
                         "D");
}

} // namespace standin
