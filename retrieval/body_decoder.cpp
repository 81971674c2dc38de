#include "body_decoder.h"

#include "messages.h"
#include "peer_text.h"

#include <QByteArray>
#include <QList>

#include <cstring>
#include <zlib.h>

namespace corvane {

namespace {

// zlib's window bits: gzip framing, zlib framing, raw deflate.
constexpr int kGzipWindow = 16 + MAX_WBITS;
constexpr int kZlibWindow = MAX_WBITS;
constexpr int kRawWindow = -MAX_WBITS;

// A zlib stream starts with two bytes: the method 8 (deflate) with a window of
// at most 32 KiB, and a check that makes them a multiple of 31.
bool startsZlibStream(uchar cmf, uchar flg)
{
    return (cmf & 0x0F) == Z_DEFLATED && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0;
}

QLatin1StringView codingName(BodyDecoder::Coding coding)
{
    return coding == BodyDecoder::Coding::Gzip ? QLatin1StringView("gzip")
                                               : QLatin1StringView("deflate");
}

} // namespace

struct BodyDecoder::Inflater {
    explicit Inflater(int windowBits) { ok = inflateInit2(&stream, windowBits) == Z_OK; }
    ~Inflater() { inflateEnd(&stream); }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    z_stream stream{};
    bool ok = false;
    unsigned char out[kOutputBlock];
};

BodyDecoder::BodyDecoder() = default;
BodyDecoder::~BodyDecoder() = default;

BodyDecoder::Coding BodyDecoder::CodingOf(QByteArrayView contentEncoding)
{
    Coding found = Coding::Identity;
    for (QByteArrayView item :
         QByteArray(contentEncoding.data(), contentEncoding.size()).split(',')) {
        const QByteArray name = item.trimmed().toByteArray().toLower();
        if (name.isEmpty() || name == "identity")
            continue;
        if (found != Coding::Identity)
            return Coding::Unknown;
        if (name == "gzip" || name == "x-gzip")
            found = Coding::Gzip;
        else if (name == "deflate")
            found = Coding::Deflate;
        else
            return Coding::Unknown;
    }
    return found;
}

void BodyDecoder::Start(Coding coding, Sink sink)
{
    coding_ = coding;
    sink_ = std::move(sink);
    inflater_.reset();
    pending_.clear();
    sawInput_ = false;
    streamEnded_ = false;
    error_.clear();
    if (coding_ == Coding::Gzip)
        inflater_ = std::make_unique<Inflater>(kGzipWindow);
}

bool BodyDecoder::Feed(QByteArrayView bytes)
{
    if (!error_.isEmpty())
        return false;
    if (bytes.isEmpty())
        return true;
    sawInput_ = true;
    switch (coding_) {
    case Coding::Identity:
        sink_(bytes);
        return true;
    case Coding::Unknown:
        return false;
    case Coding::Gzip:
        return inflateSome(bytes);
    case Coding::Deflate:
        if (!inflater_) {
            pending_.append(bytes.data(), bytes.size());
            if (pending_.size() < 2)
                return true;
            const bool zlib = startsZlibStream(uchar(pending_[0]), uchar(pending_[1]));
            inflater_ = std::make_unique<Inflater>(zlib ? kZlibWindow : kRawWindow);
            const QByteArray held = std::exchange(pending_, QByteArray());
            return inflateSome(held);
        }
        return inflateSome(bytes);
    }
    return false;
}

bool BodyDecoder::inflateSome(QByteArrayView bytes)
{
    if (!inflater_->ok)
        return fail(kInflaterNotStarted);
    z_stream &stream = inflater_->stream;
    auto *next = reinterpret_cast<const unsigned char *>(bytes.data());
    qsizetype left = bytes.size();
    while (left > 0) {
        if (streamEnded_) {
            // A gzip body may hold several members one after the other;
            // anything else after the end of the data is not part of it.
            if (coding_ != Coding::Gzip || *next != 0x1f)
                return true;
            inflateReset(&stream);
            streamEnded_ = false;
        }
        // avail_in is 32 bits wide; a larger piece goes in several rounds.
        const auto round = uInt(std::min<qsizetype>(left, 1 << 30));
        stream.next_in = const_cast<unsigned char *>(next);
        stream.avail_in = round;
        do {
            stream.next_out = inflater_->out;
            stream.avail_out = sizeof inflater_->out;
            const int result = inflate(&stream, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
                return fail(PeerText(stream.msg ? stream.msg : "bad data"));
            const auto produced = qsizetype(sizeof inflater_->out - stream.avail_out);
            if (produced > 0)
                sink_(QByteArrayView(reinterpret_cast<const char *>(inflater_->out), produced));
            if (result == Z_STREAM_END) {
                streamEnded_ = true;
                break;
            }
            if (result == Z_BUF_ERROR && produced == 0)
                break;
        } while (stream.avail_in > 0 || stream.avail_out == 0);
        const qsizetype used = qsizetype(round - stream.avail_in);
        next += used;
        left -= used;
        if (!streamEnded_ && used < round)
            return fail(kDataLeftOver);
    }
    return true;
}

bool BodyDecoder::Finish()
{
    if (!error_.isEmpty())
        return false;
    if (coding_ == Coding::Identity || !sawInput_)
        return true;
    if (coding_ == Coding::Deflate && !inflater_)
        return fail(kDataStopsAfterOneByte);
    if (!streamEnded_)
        return fail(kDataStopsShort);
    return true;
}

bool BodyDecoder::fail(const QString &message)
{
    error_ = DamagedDataProblem(codingName(coding_), message);
    return false;
}

} // namespace corvane
