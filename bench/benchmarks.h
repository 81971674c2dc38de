#pragma once

#include <QtGlobal>

// The benchmarks, each printing its figures against its floor.
namespace corvane::bench {

// The Download command's round trip against a blocking client's.
void roundTrip(int rounds);
// The CPU the wait for a connection takes, against a wait that spins.
void waitCpu(int seconds);
// The bytes a flood the program reads adds to its resident memory.
void floodRss(qint64 total);
// The scanner alone, against searching for its markers.
void scanThroughput();
// The reply reader with the scanner behind it, against the floors.
void readerThroughput();

} // namespace corvane::bench
