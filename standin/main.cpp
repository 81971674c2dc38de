// corvane-standin: a local stand-in of the video site's info endpoint and of
// the download-link service, serving a small catalog of videos.
#include "catalog.h"
#include "http_server.h"
#include "standin_service.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// Quits the event loop on SIGINT and SIGTERM, outside the signal handler.
void quitOnSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] { app.quit(); });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// The installed catalog beside the program, else the one in the sources.
QString defaultCatalog()
{
    const QString installed
        = QDir::cleanPath(QCoreApplication::applicationDirPath()
                          + QStringLiteral("/../" CORVANE_STANDIN_INSTALLED_CATALOG));
    return QFileInfo::exists(installed + QStringLiteral("/catalog.tsv"))
               ? installed
               : QStringLiteral(CORVANE_STANDIN_CATALOG);
}

// "127.0.0.1:80" or "[::1]:80".
bool parseListen(const QString &text, QHostAddress &address, quint16 &port)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    port = quint16(number);
    return ok && number <= 65535 && address.setAddress(host);
}

// "5000,30000,2000": milliseconds, each above 0.
bool parseTimeouts(const QString &text, standin::ConnectionTimeouts &timeouts)
{
    const QStringList parts = text.split(u',');
    if (parts.size() != 3)
        return false;
    bool ok[3] = {};
    timeouts = {parts[0].toInt(&ok[0]), parts[1].toInt(&ok[1]), parts[2].toInt(&ok[2])};
    return ok[0] && ok[1] && ok[2] && timeouts.idle > 0 && timeouts.stall > 0
           && timeouts.linger > 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-standin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A local stand-in of the video site and the download-link service."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("listen"),
                      QStringLiteral("Listen on ADDR:PORT (IPv6 in brackets); may be given more "
                                     "than once. Default: 127.0.0.1:80 and [::1]:80."),
                      QStringLiteral("ADDR:PORT")});
    parser.addOption({QStringLiteral("media"),
                      QStringLiteral("The catalog folder (catalog.tsv and the video files)."),
                      QStringLiteral("DIR"), defaultCatalog()});
    parser.addOption({QStringLiteral("timeouts"),
                      QStringLiteral("How long a connection waits for a request, for its client "
                                     "to read, and for it to close after the last answer, in "
                                     "milliseconds. Default: 5000,30000,2000."),
                      QStringLiteral("IDLE,STALL,LINGER")});
    parser.process(app);
    standin::ConnectionTimeouts timeouts;
    if (parser.isSet(QStringLiteral("timeouts"))
        && !parseTimeouts(parser.value(QStringLiteral("timeouts")), timeouts)) {
        std::fprintf(stderr, "corvane-standin: not IDLE,STALL,LINGER: %s\n",
                     qPrintable(parser.value(QStringLiteral("timeouts"))));
        return 2;
    }

    const standin::Catalog catalog = standin::Catalog::load(parser.value(QStringLiteral("media")));
    if (catalog.videos().isEmpty()) {
        std::fprintf(stderr, "corvane-standin: %s\n", qPrintable(catalog.errorString()));
        return 1;
    }
    const standin::StandinService service(catalog);
    standin::HttpServer server(
        [&service](const standin::HttpRequest &request) { return service.handle(request); },
        timeouts);

    QStringList listen = parser.values(QStringLiteral("listen"));
    if (listen.isEmpty())
        listen = {QStringLiteral("127.0.0.1:80"), QStringLiteral("[::1]:80")};
    for (const QString &where : std::as_const(listen)) {
        QHostAddress address;
        quint16 port = 0;
        if (!parseListen(where, address, port)) {
            std::fprintf(stderr, "corvane-standin: not an ADDR:PORT: %s\n", qPrintable(where));
            return 2;
        }
        if (!server.listen(address, port))
            std::fprintf(stderr, "corvane-standin: cannot listen on %s: %s\n", qPrintable(where),
                         qPrintable(server.errorString()));
    }
    if (server.addresses().isEmpty()) {
        std::fprintf(stderr, "corvane-standin: nowhere to listen\n");
        return 1;
    }

    // The links to paste, with the port of the first address unless it is 80.
    const QByteArray host = server.port() == 80 ? QByteArray("localhost")
                                                : "localhost:" + QByteArray::number(server.port());
    for (const standin::Video &video : catalog.videos())
        std::printf("http://%s/watch?v=%s\t%s\n", host.constData(), video.id.constData(),
                    video.title.toUtf8().constData());
    std::printf("listening on %s\n", qPrintable(server.addresses().join(u", ")));
    std::fflush(stdout);

    quitOnSignals(app);
    return QCoreApplication::exec();
}
