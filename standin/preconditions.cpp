#include "preconditions.h"

namespace standin {

namespace {

// Whether a field's list of entity tags ("*" or 1#entity-tag) holds etag,
// which is strong: by the strong comparison the listed tag must be strong
// too, by the weak one a weak tag with the same text also counts.
bool tagListHolds(QByteArrayView list, QByteArrayView etag, bool strong)
{
    list = list.trimmed();
    if (list == "*")
        return true; // any current representation
    qsizetype at = 0;
    while (at < list.size()) {
        if (list[at] == ' ' || list[at] == '\t' || list[at] == ',') {
            ++at;
            continue;
        }
        const bool weak = list.sliced(at).startsWith("W/");
        if (weak)
            at += 2;
        const qsizetype end = at < list.size() && list[at] == '"' ? list.indexOf('"', at + 1) : -1;
        if (end < 0)
            return false; // not a list of entity tags
        if (list.sliced(at, end + 1 - at) == etag && !(weak && strong))
            return true;
        at = end + 1;
    }
    return false;
}

int monthOf(QByteArrayView name)
{
    static const QByteArrayList months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return int(months.indexOf(name)) + 1;
}

bool isDayName(QByteArrayView name, bool full)
{
    static const QByteArrayList days{"Monday", "Tuesday",  "Wednesday", "Thursday",
                                     "Friday", "Saturday", "Sunday"};
    for (const QByteArray &day : days) {
        if (name == (full ? QByteArrayView(day) : QByteArrayView(day).first(3)))
            return true;
    }
    return false;
}

} // namespace

QDateTime parseHttpDate(QByteArrayView text)
{
    // The three forms as words: day name, day, month, year, time, "GMT";
    // day name, day, month, two-digit year, time, "GMT"; or day name,
    // month, day, time, year.
    QByteArray spaced = text.trimmed().toByteArray();
    spaced.replace(',', ' ').replace('-', ' ');
    const QByteArrayList words = spaced.simplified().split(' ');
    const bool asctime = words.size() == 5 && !text.contains(',');
    const bool rfc850 = words.size() == 6 && words[3].size() == 2 && text.contains('-');
    const bool imf = words.size() == 6 && words[3].size() == 4 && !rfc850;
    if (!(asctime || ((imf || rfc850) && words[5] == "GMT")) || !isDayName(words[0], rfc850))
        return {};
    const QByteArrayList date = asctime ? QByteArrayList{words[2], words[1], words[4], words[3]}
                                        : QByteArrayList{words[1], words[2], words[3], words[4]};
    bool dayRead = false;
    bool yearRead = false;
    const int day = date[0].toInt(&dayRead);
    int year = date[2].toInt(&yearRead);
    const QTime time = QTime::fromString(QString::fromLatin1(date[3]), u"hh:mm:ss");
    if (!dayRead || !yearRead || date[0].size() > 2 || date[0].startsWith('+'))
        return {};
    if (rfc850) {
        // A two-digit year more than 50 years ahead is in the century before.
        year += 2000;
        if (year > QDate::currentDate().year() + 50)
            year -= 100;
    }
    const QDateTime result(QDate(year, monthOf(date[1]), day), time, Qt::UTC);
    return time.isValid() ? result : QDateTime();
}

Precondition evaluatePreconditions(const HttpRequest &request, const Validators &current)
{
    const QByteArray ifMatch = request.headers.value("if-match");
    const QByteArray ifNoneMatch = request.headers.value("if-none-match");
    // A field sent empty is an empty list: it holds no tag.
    if (request.headers.contains("if-match")) {
        if (!tagListHolds(ifMatch, current.etag, true))
            return Precondition::Failed;
    } else {
        const QDateTime since = parseHttpDate(request.headers.value("if-unmodified-since"));
        if (since.isValid() && current.lastModified > since)
            return Precondition::Failed;
    }
    if (request.headers.contains("if-none-match"))
        return tagListHolds(ifNoneMatch, current.etag, false) ? Precondition::NotModified
                                                              : Precondition::Proceed;
    const QDateTime since = parseHttpDate(request.headers.value("if-modified-since"));
    if (since.isValid() && current.lastModified <= since)
        return Precondition::NotModified;
    return Precondition::Proceed;
}

bool ifRangeHolds(QByteArrayView ifRange, const Validators &current)
{
    const QByteArrayView value = ifRange.trimmed();
    if (value.startsWith('"'))
        return value == current.etag; // a strong comparison
    if (value.startsWith("W/"))
        return false; // a weak tag never matches
    const QDateTime date = parseHttpDate(value);
    return date.isValid() && date == current.lastModified;
}

} // namespace standin
