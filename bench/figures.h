#pragma once

#include <QList>
#include <QString>

// How the benchmarks measure and print: one line a figure,
// metric=NAME value=V unit=U floor=F ratio=R, and what follows.
namespace corvane::bench {

struct Spread {
    double median = 0;
    double low = 0;  // 10th percentile
    double high = 0; // 90th percentile
};

Spread spreadOf(QList<double> values);

void print(const char *metric, double value, const char *unit, double floor,
           const QString &extra = QString());

// A throughput in MB/s from the seconds each run took, against the floor's;
// the ratio is the measured time over the floor's time.
void printThroughput(const char *metric, double megabytes, const QList<double> &seconds,
                     const QList<double> &floorSeconds);

// The CPU time this process has used.
double cpuSeconds();

// Letters and the characters of a form body, without a marker.
QByteArray formBytes(qsizetype size, quint32 seed);

} // namespace corvane::bench
