#pragma once

#include <QByteArray>

#include <zlib.h>

// Bodies as servers send them, compressed by zlib itself (windowBits 16 + 15:
// gzip, 15: zlib, -15: raw deflate), in chunks, framed by Content-Length.
inline QByteArray compressed(const QByteArray &plain, int windowBits)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(plain.size()))) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(plain.constData()));
    stream.avail_in = uInt(plain.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

inline QByteArray gzipped(const QByteArray &plain)
{
    return compressed(plain, 16 + MAX_WBITS);
}

inline QByteArray chunked(const QByteArray &body, qsizetype size)
{
    QByteArray out;
    for (qsizetype at = 0; at < body.size(); at += size) {
        const QByteArray piece = body.mid(at, size);
        out += QByteArray::number(piece.size(), 16) + ";piece=\"a;b\"\r\n" + piece + "\r\n";
    }
    return out + "0\r\nX-Checksum: none\r\n\r\n";
}

inline QByteArray httpReply(const QByteArray &headers, const QByteArray &body,
                            const QByteArray &status = "200 OK")
{
    return "HTTP/1.1 " + status + "\r\n" + headers
           + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}
