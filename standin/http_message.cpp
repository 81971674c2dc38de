#include "http_message.h"

#include <QLocale>

namespace standin {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 412:
        return "Precondition Failed";
    case 414:
        return "URI Too Long";
    case 416:
        return "Range Not Satisfiable";
    case 421:
        return "Misdirected Request";
    case 431:
        return "Request Header Fields Too Large";
    case 501:
        return "Not Implemented";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Unknown";
    }
}

QByteArray httpDate(const QDateTime &time)
{
    return QLocale::c().toString(time.toUTC(), u"ddd, dd MMM yyyy hh:mm:ss").toLatin1() + " GMT";
}

HttpResponse errorPage(int status, const QByteArray &explanation)
{
    HttpResponse response;
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    response.body = "<!DOCTYPE html>\n<title>" + QByteArray::number(status) + ' '
                    + reasonPhrase(status) + "</title>\n<h1>" + reasonPhrase(status) + "</h1>\n<p>"
                    + explanation + "</p>\n";
    return response;
}

} // namespace standin
