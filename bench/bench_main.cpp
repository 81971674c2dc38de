// corvane-bench: the retrieval core's costs against their floors, one line a
// figure: metric=NAME value=V unit=U floor=F ratio=R (spread=...).
// Listens on 127.0.0.1:80: run it as root or in a private network namespace.
#include "benchmarks.h"

#include <QCoreApplication>

using namespace corvane::bench;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList only = app.arguments().mid(1);
    const auto wanted = [&](const char *name) {
        return only.isEmpty() || only.contains(QLatin1String(name));
    };
    if (wanted("round_trip"))
        roundTrip(1000);
    if (wanted("wait_cpu"))
        waitCpu(5);
    if (wanted("scan_throughput"))
        scanThroughput();
    if (wanted("reader_throughput"))
        readerThroughput();
    if (wanted("flood_rss"))
        floodRss(1024LL * 1024 * 1024);
    return 0;
}
