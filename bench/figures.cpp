#include "figures.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace corvane::bench {

Spread spreadOf(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[qsizetype(q * double(values.size() - 1))];
    };
    return {at(0.5), at(0.1), at(0.9)};
}

void print(const char *metric, double value, const char *unit, double floor, const QString &extra)
{
    const double ratio = floor > 0 ? value / floor : 0;
    std::printf("metric=%s value=%.6g unit=%s floor=%.6g ratio=%.3g%s\n", metric, value, unit,
                floor, ratio, extra.isEmpty() ? "" : qPrintable(u' ' + extra));
    std::fflush(stdout);
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void printThroughput(const char *metric, double megabytes, const QList<double> &seconds,
                     const QList<double> &floorSeconds)
{
    const Spread s = spreadOf(seconds);
    const Spread f = spreadOf(floorSeconds);
    std::printf("metric=%s value=%.1f unit=MB/s floor=%.1f ratio=%.3g spread=%.1f..%.1f\n", metric,
                megabytes / s.median, megabytes / f.median, s.median / f.median, megabytes / s.high,
                megabytes / s.low);
    std::fflush(stdout);
}

QByteArray formBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, '\0');
    const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789=%+&";
    QRandomGenerator random(seed);
    for (char &c : bytes)
        c = alphabet[random.bounded(int(sizeof alphabet - 1))];
    return bytes;
}

} // namespace corvane::bench
