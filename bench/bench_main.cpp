// corvane-bench: the retrieval core's costs against their floors, one line a
// figure: metric=NAME value=V unit=U floor=F ratio=R (spread=...).
// Listens on 127.0.0.1:80: run it as root or in a private network namespace.
#include "constants.h"
#include "download_command.h"
#include "http_bodies.h"
#include "link_parsing.h"
#include "loopback_server.h"
#include "reply_reader.h"
#include "reply_scan.h"
#include "tcp_socket.h"
#include "window_operations.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace corvane;

namespace {

const QByteArray kRequestLink = "http://127.0.0.1/watch?v=bench";
const QByteArray kBody = "status=ok&length_seconds=3&token=vjVQa1PpcFN%3D&title=Bench+clip"
                         "&video_id=bench";
const QByteArray kReply = "HTTP/1.1 200 OK\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          "Content-Length: "
                          + QByteArray::number(kBody.size()) + "\r\n\r\n" + kBody;

struct Spread {
    double median = 0;
    double low = 0;  // 10th percentile
    double high = 0; // 90th percentile
};

Spread spreadOf(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[qsizetype(q * double(values.size() - 1))];
    };
    return {at(0.5), at(0.1), at(0.9)};
}

void print(const char *metric, double value, const char *unit, double floor,
           const QString &extra = QString())
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

sockaddr_in loopback80()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kRemotePort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A blocking server on its own thread: reads each request's head, then
// either answers it and closes, or floods the connection with bytes.
class ServerThread {
public:
    explicit ServerThread(qint64 floodBytes = 0)
        : flood_(floodBytes)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int reuse = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        sockaddr_in address = loopback80();
        ok_ = ::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
              && ::listen(listener_, 128) == 0;
        if (ok_)
            thread_ = std::thread([this] { serve(); });
    }
    ~ServerThread()
    {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        ::close(listener_);
    }
    bool ok() const { return ok_; }

private:
    void serve()
    {
        while (!stop_) {
            const int peer = ::accept(listener_, nullptr, nullptr);
            if (peer < 0)
                return;
            char buffer[4096];
            QByteArray head;
            while (!head.contains("\r\n\r\n")) {
                const ssize_t got = ::recv(peer, buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                head.append(buffer, got);
            }
            if (flood_ > 0) {
                const QByteArray chunk(256 * 1024, 'f');
                ::send(peer, "HTTP/1.1 200 OK\r\n\r\n", 19, MSG_NOSIGNAL);
                for (qint64 sent = 0; sent < flood_ && !stop_; sent += chunk.size()) {
                    if (::send(peer, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL) < 0)
                        break;
                }
            } else {
                ::send(peer, kReply.constData(), size_t(kReply.size()), MSG_NOSIGNAL);
            }
            ::close(peer);
        }
    }

    int listener_ = -1;
    bool ok_ = false;
    qint64 flood_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The window operations, ending a wait when the link is offered or an error
// shows.
class BenchWindow final : public WindowOperations {
public:
    QString RequestText() const override { return QString::fromLatin1(kRequestLink); }
    void SetStatusCaption(const QString &) override {}
    void SetLinkCaption(const QString &, const QString &) override {}
    void SetLinkVisible(bool visible) override
    {
        if (visible && loop)
            loop->quit();
    }
    void ShowErrorBox(const QString &message) override
    {
        std::fprintf(stderr, "error box: %s\n", qPrintable(message));
        if (loop)
            loop->exit(1);
    }

    QEventLoop *loop = nullptr;
};

// The least a client can do: connect, send the request, read until the
// token has ended.
double blockingRound(const QByteArray &request)
{
    QElapsedTimer clock;
    clock.start();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback80();
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
    QByteArray reply;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        reply.append(buffer, got);
        const qsizetype token = reply.indexOf("&token=");
        if (token >= 0 && reply.indexOf('&', token + 7) >= 0)
            break;
    }
    ::close(fd);
    return double(clock.nsecsElapsed()) / 1e3;
}

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

void scanThroughput()
{
    const QByteArrayView markers[] = {"&token=", "&title=", "status=fail"};
    constexpr qsizetype piece = 64 * 1024;
    for (const qsizetype mib : {1, 16, 256}) {
        // Letters and the characters of a form body, without a marker.
        QByteArray bytes(mib * 1024 * 1024, '\0');
        const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789=%+&";
        QRandomGenerator random(7);
        for (char &c : bytes)
            c = alphabet[random.bounded(int(sizeof alphabet - 1))];

        QList<double> scanner;
        QList<double> floor;
        for (int repeat = 0; repeat < 5; ++repeat) {
            QElapsedTimer clock;
            clock.start();
            ReplyScanner scan;
            for (qsizetype at = 0; at < bytes.size(); at += piece)
                scan.Feed(QByteArrayView(bytes).sliced(at, std::min(piece, bytes.size() - at)));
            scan.End();
            const bool found = scan.linkWhole() || scan.failFound();
            scanner << double(clock.nsecsElapsed()) / 1e9;
            clock.restart();
            // Every result is used: memmem is pure, and an unused call may go.
            int hits = 0;
            for (QByteArrayView marker : markers)
                hits += memmem(bytes.constData(), size_t(bytes.size()), marker.data(),
                               size_t(marker.size()))
                        != nullptr;
            floor << double(clock.nsecsElapsed()) / 1e9;
            if (found || hits > 0)
                std::fprintf(stderr, "scan_throughput: a marker in the data\n");
        }
        const double megabytes = double(bytes.size()) / 1e6;
        const Spread s = spreadOf(scanner);
        const Spread f = spreadOf(floor);
        const QByteArray name = "scan_throughput_" + QByteArray::number(mib) + "MiB";
        // Here the ratio is the scanner's time over the floor's time.
        std::printf("metric=%s value=%.1f unit=MB/s floor=%.1f ratio=%.3g spread=%.1f..%.1f\n",
                    name.constData(), megabytes / s.median, megabytes / f.median,
                    s.median / f.median, megabytes / s.high, megabytes / s.low);
        std::fflush(stdout);
    }
}

// The reply reader with the scanner behind it, for a body sent plainly, in
// chunks and gzip-compressed, against what cannot be avoided: searching the
// plain body for the three markers, and zlib's inflate alone.
void readerThroughput()
{
    constexpr qsizetype kBodySize = 64 * 1024 * 1024;
    constexpr qsizetype kArrival = 64 * 1024;
    QByteArray body(kBodySize, '\0');
    const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789=%+&";
    QRandomGenerator random(11);
    for (char &c : body)
        c = alphabet[random.bounded(int(sizeof alphabet - 1))];
    const QByteArray gzipBody = gzipped(body);

    const auto readAll = [&](const QByteArray &reply) {
        ReplyScanner scanner;
        ReplyReader reader([&](QByteArrayView piece) { scanner.Feed(piece); });
        QElapsedTimer clock;
        clock.start();
        for (qsizetype at = 0; at < reply.size(); at += kArrival)
            reader.Feed(QByteArrayView(reply).sliced(at, std::min(kArrival, reply.size() - at)));
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (reader.state() != ReplyReader::State::Ended || scanner.linkWhole())
            std::fprintf(stderr, "reader_throughput: the reply was not read whole\n");
        return seconds;
    };
    const auto searchMarkers = [&] {
        QElapsedTimer clock;
        clock.start();
        int hits = 0;
        for (const char *marker : {"&token=", "&title=", "status=fail"})
            hits
                += memmem(body.constData(), size_t(body.size()), marker, strlen(marker)) != nullptr;
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (hits > 0)
            std::fprintf(stderr, "reader_throughput: a marker in the data\n");
        return seconds;
    };
    const auto inflateAlone = [&] {
        QElapsedTimer clock;
        clock.start();
        z_stream stream{};
        inflateInit2(&stream, 16 + MAX_WBITS);
        unsigned char out[16 * 1024];
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(gzipBody.constData()));
        stream.avail_in = uInt(gzipBody.size());
        qint64 produced = 0;
        int result = Z_OK;
        while (result == Z_OK) {
            stream.next_out = out;
            stream.avail_out = sizeof out;
            result = inflate(&stream, Z_NO_FLUSH);
            produced += qint64(sizeof out - stream.avail_out);
        }
        inflateEnd(&stream);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (produced != body.size())
            std::fprintf(stderr, "reader_throughput: inflate gave %lld bytes\n", produced);
        return seconds;
    };

    const QByteArray plain = httpReply("", body);
    const QByteArray chunks
        = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked(body, 8 * 1024);
    const QByteArray gzip = httpReply("Content-Encoding: gzip\r\n", gzipBody);
    const struct {
        const char *name;
        const QByteArray &reply;
        std::function<double()> floor;
    } cases[] = {{"reader_identity", plain, searchMarkers},
                 {"reader_chunked", chunks, searchMarkers},
                 {"reader_gzip", gzip, inflateAlone}};
    for (const auto &c : cases) {
        QList<double> reader;
        QList<double> floor;
        for (int repeat = 0; repeat < 5; ++repeat) {
            reader << readAll(c.reply);
            floor << c.floor();
        }
        const double megabytes = double(body.size()) / 1e6;
        const Spread r = spreadOf(reader);
        const Spread f = spreadOf(floor);
        // The ratio is the reader's time over the floor's time.
        std::printf("metric=%s value=%.1f unit=MB/s floor=%.1f ratio=%.3g spread=%.1f..%.1f\n",
                    c.name, megabytes / r.median, megabytes / f.median, r.median / f.median,
                    megabytes / r.high, megabytes / r.low);
        std::fflush(stdout);
    }
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

} // namespace

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
