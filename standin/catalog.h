#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace standin {

struct Video {
    QByteArray id;
    QString title;
    int seconds = 0;
    QString path;
    QByteArray mediaType;
    // 128 random bits, new every run, in base64 (so it holds '+', '/', '=').
    QByteArray token;
};

// The videos the stand-in serves: DIR/catalog.tsv, one video a line (id,
// seconds, file name, title; tab-separated; '#' starts a comment), with the
// files beside it.
class Catalog {
public:
    // Empty, with errorString() set, when the catalog cannot be read.
    static Catalog load(const QString &directory);

    const QList<Video> &videos() const { return videos_; }
    const Video *find(QByteArrayView id) const;
    QString errorString() const { return error_; }

private:
    QList<Video> videos_;
    QString error_;
};

} // namespace standin
