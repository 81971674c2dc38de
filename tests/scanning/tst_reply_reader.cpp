#include "expected.h"
#include "http_bodies.h"
#include "loopback_server.h"
#include "reply_reader.h"
#include "reply_scan.h"

#include <QRandomGenerator>
#include <QTest>

using namespace corvane;
using namespace Qt::StringLiterals;

namespace {

using State = ReplyReader::State;

const QByteArray kBody = "status=ok&length_seconds=10&token=vjVQa1PpcFN%3D&title=Caf%C3%A9&x=1";

struct Read {
    QByteArray scanned;
    State state = State::Reading;
    QString failure;
};

// Reads the reply cut at the given positions; the peer closes after it when
// `closes`.
Read readInPieces(const QByteArray &reply, const QList<qsizetype> &cuts, bool closes)
{
    Read read;
    ReplyReader reader([&](QByteArrayView piece) { read.scanned += piece; });
    qsizetype from = 0;
    QList<qsizetype> ends = cuts;
    ends << reply.size();
    for (qsizetype end : ends) {
        reader.Feed(QByteArrayView(reply).sliced(from, end - from));
        from = end;
    }
    if (closes)
        reader.Finish();
    read.state = reader.state();
    read.failure = reader.failure();
    return read;
}

} // namespace

class TestReplyReader : public QObject {
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void statusAndLocation();
    void bombKeepsMemoryFlat();
};

void TestReplyReader::replies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("closes");
    // What the scanner must see: the head as it came, then the decoded body.
    QTest::addColumn<QByteArray>("scanned");
    QTest::addColumn<State>("state");
    QTest::addColumn<QString>("failure");

    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n";
    const QByteArray chunkedHead = head + "Transfer-Encoding: chunked\r\n";
    const auto coded = [&](const QByteArray &coding, const QByteArray &body) {
        return httpReply("Content-Type: text/plain\r\nContent-Encoding: " + coding + "\r\n", body);
    };
    const auto headOf = [](const QByteArray &reply) {
        return reply.left(reply.indexOf("\r\n\r\n") + 4);
    };
    const QByteArray plain = httpReply("Content-Type: text/plain\r\n", kBody);
    const QByteArray chunks = chunkedHead + "\r\n" + chunked(kBody, 5);
    const QByteArray gzipChunks = head
                                  + "Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n"
                                  + chunked(gzipped(kBody), 7);
    const QByteArray interim = "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\n"
                               "Link: </x>\r\n\r\n";

    QTest::newRow("content-length") << plain << false << plain << State::Ended << "";
    QTest::newRow("bytes after the end are left")
        << plain + "HTTP/1.1 200 OK\r\n\r\n&token=X" << false << plain << State::Ended << "";
    QTest::newRow("chunked, extensions, trailer")
        << chunks << false << chunkedHead + "\r\n" + kBody << State::Ended << "";
    QTest::newRow("gzip in chunks")
        << gzipChunks << false << headOf(gzipChunks) + kBody << State::Ended << "";
    for (const auto &[name, coding, body] :
         {std::tuple{"gzip", "gzip", gzipped(kBody)},
          {"x-gzip", "x-gzip", gzipped(kBody)},
          {"deflate, zlib-wrapped", "deflate", zlibDeflated(kBody)},
          {"deflate, raw", "Deflate", rawDeflated(kBody)},
          {"identity listed too", "identity, gzip", gzipped(kBody)},
          {"gzip, two members", "gzip", gzipped(kBody.left(20)) + gzipped(kBody.mid(20))}}) {
        const QByteArray reply = coded(coding, body);
        QTest::newRow(name) << reply << false << headOf(reply) + kBody << State::Ended << "";
    }
    QTest::newRow("interim responses are skipped")
        << interim + plain << false << plain << State::Ended << "";
    QTest::newRow("body runs to the close")
        << "HTTP/1.0 200 OK\r\n\r\n" + kBody << true << "HTTP/1.0 200 OK\r\n\r\n" + kBody
        << State::Ended << "";
    QTest::newRow("no content") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << false
                                << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << State::Ended
                                << "";
    QTest::newRow("bare text, to the close") << kBody << true << kBody << State::Ended << "";
    QTest::newRow("bare text, still open") << kBody << false << kBody << State::Reading << "";
    QTest::newRow("lower-case http is bare text")
        << "http/1.1 200 OK\r\n\r\n" + kBody << true << "http/1.1 200 OK\r\n\r\n" + kBody
        << State::Ended << "";
    QTest::newRow("a few bare bytes")
        << QByteArray("HTTP") << true << QByteArray("HTTP") << State::Ended << "";
    QTest::newRow("nothing at all") << QByteArray() << true << QByteArray() << State::Ended << "";

    const QString cutShort = "The video site closed the connection before its reply was complete.";
    QTest::newRow("closed before Content-Length")
        << plain.chopped(1) << true << plain.chopped(1) << State::Failed << cutShort;
    QTest::newRow("closed inside the head")
        << head << true << QByteArray() << State::Failed << cutShort;
    QTest::newRow("closed before the last chunk")
        << chunks.chopped(5) << true << chunkedHead + "\r\n" + kBody << State::Failed << cutShort;
    QTest::newRow("closed after an interim response")
        << interim << true << QByteArray() << State::Failed << cutShort;
    QTest::newRow("chunk size not hex")
        << chunkedHead + "\r\n5\r\nabcde\r\nzz\r\n"
        << false << chunkedHead + "\r\nabcde" << State::Failed
        << "The video site's reply has damaged chunked framing (Invalid character in chunk size).";
    QTest::newRow("chunk longer than its size")
        << chunkedHead + "\r\n2\r\nabc\r\n"
        << false << chunkedHead + "\r\nab" << State::Failed
        << "The video site's reply has damaged chunked framing (Invalid character in chunk size).";
    QTest::newRow("gzip cut short")
        << coded("gzip", gzipped(kBody).chopped(9)) << false
        << headOf(coded("gzip", gzipped(kBody).chopped(9))) + kBody << State::Failed
        << "The video site's reply could not be read: its gzip data is damaged (the data stops "
           "short).";
    QTest::newRow("deflate damaged")
        << coded("deflate", "\x78\x9c\xff\xff\xff\xff") << false
        << headOf(coded("deflate", "xxxxxx")) << State::Failed
        << "The video site's reply could not be read: its deflate data is damaged (invalid block "
           "type).";
    QTest::newRow("brotli") << coded("br", "\x0b\x02\x80") << false << headOf(coded("br", "xxx"))
                            << State::Failed
                            << "The video site's reply is compressed as \"br\", which this "
                               "program cannot read.";
    QTest::newRow("two codings") << coded("gzip, gzip", gzipped(gzipped(kBody))) << false
                                 << headOf(coded("gzip, gzip", gzipped(gzipped(kBody))))
                                 << State::Failed
                                 << "The video site's reply is compressed as \"gzip, gzip\", "
                                    "which this program cannot read.";
    QTest::newRow("status line without a code")
        << "HTTP/1.1 OK\r\n\r\n" + kBody << false << QByteArray() << State::Failed
        << "The video site's reply is not a valid HTTP response (Invalid response status).";
    QTest::newRow("two Content-Lengths")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd")
        << false << QByteArray() << State::Failed
        << "The video site's reply is not a valid HTTP response (Duplicate Content-Length).";
    QTest::newRow("head that never ends")
        << "HTTP/1.1 200 OK\r\nX-Filler: " + QByteArray(ReplyReader::kMaxHeadSize, 'a') << false
        << QByteArray() << State::Failed << "The video site's reply has a head longer than 64 KiB.";
}

// The whole reply, every cut into two pieces, one byte at a time and random
// cuts: each gives the same bytes to scan and the same end.
void TestReplyReader::replies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, closes);
    QFETCH(QByteArray, scanned);
    QFETCH(State, state);
    QFETCH(QString, failure);

    const auto check = [&](const QList<qsizetype> &cuts, const QString &how) {
        const Read read = readInPieces(reply, cuts, closes);
        if (read.scanned != scanned || read.state != state || read.failure != failure) {
            qWarning().noquote() << how << "scanned" << read.scanned.left(200) << "state"
                                 << int(read.state) << read.failure;
            return false;
        }
        return true;
    };
    QVERIFY(check({}, u"whole"_s));
    if (reply.size() < 4096) {
        QList<qsizetype> everyByte;
        for (qsizetype cut = 1; cut < reply.size(); ++cut) {
            QVERIFY(check({cut}, u"cut at %1"_s.arg(cut)));
            everyByte << cut;
        }
        QVERIFY(check(everyByte, u"byte by byte"_s));
    }
    QRandomGenerator random(20261207);
    for (int round = 0; round < 20; ++round) {
        QList<qsizetype> cuts;
        for (qsizetype at = random.bounded(1, 9000); at < reply.size();
             at += random.bounded(1, 9000))
            cuts << at;
        QVERIFY(check(cuts, u"round %1"_s.arg(round)));
    }
}

void TestReplyReader::statusAndLocation()
{
    ReplyReader reader([](QByteArrayView) {});
    reader.Feed("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 302 Found\r\nLOCATION:  http://x.example/"
                "?v=1 \r\nContent-Length: 0\r\n\r\n");
    QCOMPARE(reader.state(), State::Ended);
    QVERIFY(reader.isHttp());
    QCOMPARE(reader.statusCode(), 302);
    QCOMPARE(reader.reason(), "Found");
    QCOMPARE(reader.location(), "http://x.example/?v=1");

    reader.Reset();
    QVERIFY(!reader.started());
    reader.Feed("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n");
    QCOMPARE(reader.state(), State::Reading);
    QVERIFY(reader.location().isEmpty());
    reader.Feed("ok");
    QCOMPARE(reader.state(), State::Ended);
}

// A gzip body of 1 GiB that comes as about 1 MiB: memory stays flat while
// it is read, and the token at its very end is found.
void TestReplyReader::bombKeepsMemoryFlat()
{
    // 1 GiB of '0' as one gzip member, made fast: with a full flush after each
    // MiB, every MiB compresses to the same bytes.
    constexpr qint64 kPlain = qint64(1) << 30;
    const QByteArray mebibyte(1 << 20, '0');
    const QByteArray tail = "&token=T&title=Bomb&";
    const auto deflated = [](const QByteArray &plain, int flush) {
        z_stream stream{};
        deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
        QByteArray out(1 << 16, '\0');
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(plain.constData()));
        stream.avail_in = uInt(plain.size());
        stream.next_out = reinterpret_cast<Bytef *>(out.data());
        stream.avail_out = uInt(out.size());
        deflate(&stream, flush);
        out.truncate(out.size() - qsizetype(stream.avail_out));
        deflateEnd(&stream);
        return out;
    };
    const QByteArray block = deflated(mebibyte, Z_FULL_FLUSH);
    uLong crc = crc32(0, nullptr, 0);
    const uLong blockCrc
        = crc32(0, reinterpret_cast<const Bytef *>(mebibyte.constData()), uInt(mebibyte.size()));
    QByteArray compressedBody("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10);
    for (qint64 fed = 0; fed < kPlain; fed += mebibyte.size()) {
        compressedBody += block;
        crc = crc32_combine(crc, blockCrc, mebibyte.size());
    }
    compressedBody += deflated(tail, Z_FINISH);
    crc = crc32(crc, reinterpret_cast<const Bytef *>(tail.constData()), uInt(tail.size()));
    const quint32 size = quint32(kPlain + tail.size());
    for (const quint32 word : {quint32(crc), size})
        for (int shift = 0; shift < 32; shift += 8)
            compressedBody += char((word >> shift) & 0xff);
    QVERIFY(compressedBody.size() < 2 * 1024 * 1024);
    const QByteArray reply = httpReply("Content-Encoding: gzip\r\n", compressedBody);

    ReplyScanner scanner;
    qint64 decoded = 0;
    ReplyReader reader([&](QByteArrayView piece) {
        decoded += piece.size();
        scanner.Feed(piece);
    });
    constexpr qsizetype kArrival = 64 * 1024;
    qint64 baseline = -1;
    qint64 highest = 0;
    for (qsizetype at = 0; at < reply.size(); at += kArrival) {
        reader.Feed(QByteArrayView(reply).sliced(at, std::min(kArrival, reply.size() - at)));
        if (at == 4 * kArrival)
            baseline = residentBytes();
        highest = std::max(highest, residentBytes());
    }
    QCOMPARE(reader.state(), State::Ended);
    QVERIFY(decoded > kPlain);
    scanner.End();
    QVERIFY(scanner.linkWhole());
    QCOMPARE(scanner.Link(u"v"), expectedDownloadLink("v", "T", "Bomb"));

    const double growthMiB = double(highest - baseline) / (1 << 20);
    qInfo("1 GiB from %lld KiB of gzip: resident memory grew %.1f MiB",
          compressedBody.size() / 1024, growthMiB);
#ifndef CORVANE_UNDER_ASAN
    QVERIFY2(growthMiB < 8, qPrintable(u"grew %1 MiB"_s.arg(growthMiB)));
#endif
}

QTEST_GUILESS_MAIN(TestReplyReader)
#include "tst_reply_reader.moc"
