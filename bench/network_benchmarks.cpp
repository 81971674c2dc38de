// The benchmarks that go through the socket, on 127.0.0.1:80.
#include "bench_peers.h"
#include "benchmarks.h"
#include "constants.h"
#include "download_command.h"
#include "figures.h"
#include "link_parsing.h"
#include "loopback_server.h"
#include "tcp_socket.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

namespace corvane::bench {

void roundTrip(int rounds)
{
    ServerThread server;
    if (!server.ok()) {
        std::fprintf(stderr, "round_trip: cannot listen on 127.0.0.1:80\n");
        return;
    }
    DownloadState state;
    TcpSocket socket;
    BenchWindow window;
    DownloadCommand command(state, socket, window);
    QEventLoop loop;
    window.loop = &loop;

    // The two take turns, so that a change in the machine's load falls on both.
    const QByteArray request = ComposeInfoRequest("bench", "127.0.0.1").toLatin1();
    QList<double> program;
    QList<double> floor;
    for (int i = 0; i < rounds + 50; ++i) {
        QElapsedTimer clock;
        clock.start();
        command.Command1_Click();
        if (loop.exec() != 0)
            return;
        const double micros = double(clock.nsecsElapsed()) / 1e3;
        socket.Close();
        const double floorMicros = blockingRound(request);
        if (i >= 50 && floorMicros >= 0) {
            program << micros;
            floor << floorMicros;
        }
    }
    const Spread p = spreadOf(program);
    const Spread f = spreadOf(floor);
    print("round_trip", p.median, "us", f.median,
          QStringLiteral("rounds=%1 spread=%2..%3 floor_spread=%4..%5")
              .arg(rounds)
              .arg(p.low, 0, 'f', 1)
              .arg(p.high, 0, 'f', 1)
              .arg(f.low, 0, 'f', 1)
              .arg(f.high, 0, 'f', 1));
}

void waitCpu(int seconds)
{
    HangingListener hanging(kRemotePort);
    if (!hanging.isReady()) {
        std::fprintf(stderr, "wait_cpu: cannot make a connection attempt hang\n");
        return;
    }
    // The program: an event-driven wait.
    DownloadState state;
    TcpSocket socket;
    BenchWindow window;
    DownloadCommand command(state, socket, window);
    const double before = cpuSeconds();
    command.Command1_Click();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double program = cpuSeconds() - before;
    socket.Close();

    // For comparison: a wait that keeps handling pending events until connected.
    TcpSocket spinning;
    bool connected = false;
    QObject::connect(&spinning, &Socket::ConnectEvent, [&] { connected = true; });
    const double spinBefore = cpuSeconds();
    spinning.Connect(QStringLiteral("127.0.0.1"), kRemotePort);
    QElapsedTimer clock;
    clock.start();
    while (!connected && clock.elapsed() < seconds * 1000)
        QCoreApplication::processEvents();
    const double spin = cpuSeconds() - spinBefore;
    spinning.Close();
    print("wait_cpu", program, "s", 0,
          QStringLiteral("seconds=%1 spinning_wait=%2").arg(seconds).arg(spin, 0, 'f', 3));
}

void floodRss(qint64 total)
{
    ServerThread server(total);
    if (!server.ok()) {
        std::fprintf(stderr, "flood_rss: cannot listen on 127.0.0.1:80\n");
        return;
    }
    DownloadState state;
    TcpSocket socket;
    BenchWindow window;
    DownloadCommand command(state, socket, window);
    qint64 received = 0;
    qint64 baseline = -1;
    qint64 highest = 0;
    QEventLoop loop;
    QObject::connect(&socket, &Socket::DataArrivalEvent, [&](qint64 bytesTotal) {
        received += bytesTotal;
        if (received > 16 * 1024 * 1024 && baseline < 0)
            baseline = residentBytes();
    });
    QObject::connect(&socket, &Socket::CloseEvent, &loop, &QEventLoop::quit);
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (baseline >= 0)
            highest = std::max(highest, residentBytes());
    });
    sampler.start(5);
    QElapsedTimer clock;
    clock.start();
    command.Command1_Click();
    loop.exec();
    const double seconds = double(clock.elapsed()) / 1000;
    const double growth = double(std::max<qint64>(0, highest - baseline)) / (1 << 20);
    print("flood_rss", growth, "MiB", 0,
          QStringLiteral("received_MiB=%1 seconds=%2 rss_at_16MiB=%3MiB")
              .arg(double(received) / (1 << 20), 0, 'f', 0)
              .arg(seconds, 0, 'f', 1)
              .arg(double(baseline) / (1 << 20), 0, 'f', 1));
}

} // namespace corvane::bench
