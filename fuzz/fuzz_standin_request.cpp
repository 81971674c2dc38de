// Any bytes as a request to the stand-in, whole and cut where the first byte
// says: the same answer; its Content-Length is what follows its head, and
// nothing follows a 304's or a HEAD's; a refused request closes. An
// HTTP-date read from the bytes reads back.
#include "preconditions.h"
#include "standin_answer.h"

#include <QRegularExpression>

#include <cstdint>
#include <cstdlib>

using namespace standin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto require = [](bool holds) {
        if (!holds)
            std::abort();
    };
    const QByteArray bytes
        = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).mid(1);
    const QDateTime date = parseHttpDate(bytes);
    require(!date.isValid() || parseHttpDate(httpDate(date)) == date);

    const ComposedAnswer answer = answerTo(bytes, 0, bytes.size());
    require(answerTo(bytes, size ? data[0] % (bytes.size() + 1) : 0, bytes.size()).bytes
            == answer.bytes);
    if (answer.status == 0)
        return 0; // the request is not whole: no answer yet
    const QByteArray head = answer.bytes.left(answer.bytes.indexOf("\r\n\r\n") + 4);
    const bool refused = QList<int>{400, 405, 414, 431, 501, 505}.contains(answer.status);
    require(!refused || head.contains("\r\nConnection: close\r\n"));
    const qint64 after
        = answer.bytes.size() - head.size() + (answer.sendsFile ? answer.fileLength : 0);
    static const QRegularExpression toHead(QStringLiteral("^[\r\n]*HEAD ")); // as llhttp skips
    if (answer.status == 304 || toHead.match(QString::fromLatin1(bytes)).hasMatch())
        require(after == 0);
    else
        require(head.contains("\r\nContent-Length: " + QByteArray::number(after) + "\r\n"));
    require(answer.status != 304 || !head.contains("\r\nContent-Length: "));
    return 0;
}
