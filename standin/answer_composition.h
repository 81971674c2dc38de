#pragma once

#include "http_message.h"

namespace standin {

// What the validators of a served file are made of.
struct FileFacts {
    qint64 size = 0;
    quint64 inode = 0;
    qint64 modifiedSeconds = 0; // since the epoch
    qint64 modifiedNanoseconds = 0;
};

// An answer ready to go: head and body, then fileLength bytes of the
// response's file from fileFirst.
struct ComposedAnswer {
    int status = 0;
    QByteArray bytes;
    bool sendsFile = false;
    qint64 fileFirst = 0;
    qint64 fileLength = 0;
};

// The answer to request: its status line, Date, Content-Length and the
// response's fields. A file (described by file) or a body with validators
// gets them, and the request's preconditions decide first: 304 with the
// validators alone, 412 with an error page. Then what GET's Range and
// If-Range select of a file: 206 with one part, 416 for a range outside it,
// else the whole. HEAD gets the head alone; close says whether the
// connection ends after it.
ComposedAnswer composeAnswer(HttpResponse response, const FileFacts *file,
                             const HttpRequest &request, bool close, const QByteArray &date);

} // namespace standin
