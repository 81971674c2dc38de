#pragma once

#include "constants.h"

#include <QByteArray>
#include <QString>

// What the program must produce, written out by hand once for all tests.

inline QByteArray expectedInfoRequest(const QByteArray &videoId, const QByteArray &host)
{
    return "GET /get_video_info?video_id=" + videoId + " HTTP/1.1\r\n" + "Host: " + host + "\r\n"
           + "User-Agent: Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.9.1.8) "
             "Gecko/20100202 Firefox/3.5.8\r\n"
             "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
             "Accept-Language: en-us,en;q=0.5\r\n"
             "Accept-Encoding: gzip,deflate\r\n"
             "Keep-Alive: 300\r\n"
             "Connection: keep-alive\r\n"
             "\r\n";
}

// The download link with this query after "video_id=", as it is opened.
inline QByteArray expectedLinkQuery(const QByteArray &afterVideoId)
{
    return "http://"
           + QByteArray(corvane::kLinkServiceHost.data(), corvane::kLinkServiceHost.size())
           + "/download/index.php?video_id=" + afterVideoId;
}

inline QString expectedDownloadLink(const QString &videoId, const QString &token,
                                    const QString &title)
{
    return QString::fromLatin1(
        expectedLinkQuery((videoId + "&id=" + token + "&n=" + title).toLatin1()));
}

// An HTTP head as the info endpoint would send it before its body.
inline const QByteArray kReplyHead = "HTTP/1.1 200 OK\r\n"
                                     "Content-Type: application/x-www-form-urlencoded\r\n\r\n";
