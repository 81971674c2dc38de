#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>

namespace corvane {

// Undoes a reply body's content coding as it streams in: none ("identity"),
// gzip (also "x-gzip") or deflate, zlib-wrapped or raw, as servers send it.
// The decoded bytes go to the sink in pieces of at most kOutputBlock bytes,
// so a small body that inflates to gigabytes never needs more memory.
class BodyDecoder {
public:
    using Sink = std::function<void(QByteArrayView)>;
    static constexpr qsizetype kOutputBlock = 16 * 1024;

    enum class Coding { Identity, Gzip, Deflate, Unknown };

    BodyDecoder();
    ~BodyDecoder();
    BodyDecoder(const BodyDecoder &) = delete;
    BodyDecoder &operator=(const BodyDecoder &) = delete;

    // The coding a Content-Encoding value names: a list of codings, of which
    // "identity" counts for nothing. More than one real coding is Unknown.
    static Coding CodingOf(QByteArrayView contentEncoding);

    void Start(Coding coding, Sink sink);
    // False once the data cannot be decoded; error() then says why.
    bool Feed(QByteArrayView bytes);
    // The body has ended: false when the compressed data stopped short.
    bool Finish();
    Coding coding() const { return coding_; }
    const QString &error() const { return error_; }

private:
    bool inflateSome(QByteArrayView bytes);
    bool fail(const QString &message);

    struct Inflater;
    Coding coding_ = Coding::Identity;
    Sink sink_;
    std::unique_ptr<Inflater> inflater_;
    // A deflate body's first byte, held until the second tells a zlib
    // header from raw data.
    QByteArray pending_;
    bool sawInput_ = false;
    bool streamEnded_ = false;
    QString error_;
};

} // namespace corvane
