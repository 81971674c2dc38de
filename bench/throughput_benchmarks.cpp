// The benchmarks of the reply's path in memory: the scanner, and the reader
// with the scanner behind it.
#include "benchmarks.h"
#include "figures.h"
#include "http_bodies.h"
#include "reply_reader.h"
#include "reply_scan.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstring>
#include <functional>
#include <zlib.h>

namespace corvane::bench {

void scanThroughput()
{
    const QByteArrayView markers[] = {"&token=", "&title=", "status=fail"};
    constexpr qsizetype piece = 64 * 1024;
    for (const qsizetype mib : {1, 16, 256}) {
        const QByteArray bytes = formBytes(mib * 1024 * 1024, 7);

        QList<double> scanner;
        QList<double> floor;
        for (int repeat = 0; repeat < 5; ++repeat) {
            QElapsedTimer clock;
            clock.start();
            ReplyScanner scan;
            for (qsizetype at = 0; at < bytes.size(); at += piece)
                scan.Feed(QByteArrayView(bytes).sliced(at, std::min(piece, bytes.size() - at)));
            scan.End();
            const bool found = scan.linkWhole() || scan.failFound();
            scanner << double(clock.nsecsElapsed()) / 1e9;
            clock.restart();
            // Every result is used: memmem is pure, and an unused call may go.
            int hits = 0;
            for (QByteArrayView marker : markers)
                hits += memmem(bytes.constData(), size_t(bytes.size()), marker.data(),
                               size_t(marker.size()))
                        != nullptr;
            floor << double(clock.nsecsElapsed()) / 1e9;
            if (found || hits > 0)
                std::fprintf(stderr, "scan_throughput: a marker in the data\n");
        }
        const QByteArray name = "scan_throughput_" + QByteArray::number(mib) + "MiB";
        printThroughput(name.constData(), double(bytes.size()) / 1e6, scanner, floor);
    }
}

// The reply reader with the scanner behind it, for a body sent plainly, in
// chunks and gzip-compressed, against what cannot be avoided: searching the
// plain body for the three markers, and zlib's inflate alone.
void readerThroughput()
{
    constexpr qsizetype kBodySize = 64 * 1024 * 1024;
    constexpr qsizetype kArrival = 64 * 1024;
    const QByteArray body = formBytes(kBodySize, 11);
    const QByteArray gzipBody = gzipped(body);

    const auto readAll = [&](const QByteArray &reply) {
        ReplyScanner scanner;
        ReplyReader reader([&](QByteArrayView piece) { scanner.Feed(piece); });
        QElapsedTimer clock;
        clock.start();
        for (qsizetype at = 0; at < reply.size(); at += kArrival)
            reader.Feed(QByteArrayView(reply).sliced(at, std::min(kArrival, reply.size() - at)));
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (reader.state() != ReplyReader::State::Ended || scanner.linkWhole())
            std::fprintf(stderr, "reader_throughput: the reply was not read whole\n");
        return seconds;
    };
    const auto searchMarkers = [&] {
        QElapsedTimer clock;
        clock.start();
        int hits = 0;
        for (const char *marker : {"&token=", "&title=", "status=fail"})
            hits
                += memmem(body.constData(), size_t(body.size()), marker, strlen(marker)) != nullptr;
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (hits > 0)
            std::fprintf(stderr, "reader_throughput: a marker in the data\n");
        return seconds;
    };
    const auto inflateAlone = [&] {
        QElapsedTimer clock;
        clock.start();
        z_stream stream{};
        inflateInit2(&stream, 16 + MAX_WBITS);
        unsigned char out[16 * 1024];
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(gzipBody.constData()));
        stream.avail_in = uInt(gzipBody.size());
        qint64 produced = 0;
        int result = Z_OK;
        while (result == Z_OK) {
            stream.next_out = out;
            stream.avail_out = sizeof out;
            result = inflate(&stream, Z_NO_FLUSH);
            produced += qint64(sizeof out - stream.avail_out);
        }
        inflateEnd(&stream);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (produced != body.size())
            std::fprintf(stderr, "reader_throughput: inflate gave %lld bytes\n", produced);
        return seconds;
    };

    const QByteArray plain = httpReply("", body);
    const QByteArray chunks
        = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked(body, 8 * 1024);
    const QByteArray gzip = httpReply("Content-Encoding: gzip\r\n", gzipBody);
    const struct {
        const char *name;
        const QByteArray &reply;
        std::function<double()> floor;
    } cases[] = {{"reader_identity", plain, searchMarkers},
                 {"reader_chunked", chunks, searchMarkers},
                 {"reader_gzip", gzip, inflateAlone}};
    for (const auto &c : cases) {
        QList<double> reader;
        QList<double> floor;
        for (int repeat = 0; repeat < 5; ++repeat) {
            reader << readAll(c.reply);
            floor << c.floor();
        }
        printThroughput(c.name, double(body.size()) / 1e6, reader, floor);
    }
}

} // namespace corvane::bench
