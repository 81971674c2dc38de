#include "command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace corvane {

namespace {

// The options QApplication and its platforms take (-platform offscreen,
// -style=fusion, ...), which Qt reads and removes once the application
// object exists; known here, they need not wait for it, nor for a display.
void addQtOptions(QCommandLineParser &parser)
{
    const char *const withValue[] = {"platform",
                                     "platformpluginpath",
                                     "platformtheme",
                                     "plugin",
                                     "qwindowgeometry",
                                     "geometry",
                                     "qwindowicon",
                                     "icon",
                                     "qwindowtitle",
                                     "title",
                                     "session",
                                     "display",
                                     "name",
                                     "visual",
                                     "ncols",
                                     "im",
                                     "inputstyle",
                                     "style",
                                     "stylesheet",
                                     "qmljsdebugger"};
    const char *const flags[]
        = {"reverse", "testability", "widgetcount", "cmap", "nograb", "dograb", "sync"};
    for (const char *name : withValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : flags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

std::optional<int> answerCommandLine(const QStringList &arguments, ArgumentsRead read)
{
    // Named as it was called, not by the path Qt knows it by.
    const QString name = QFileInfo(arguments.value(0, QStringLiteral("corvane"))).fileName();
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Turns a video page's link into a download link, in a window."));
    // Not addHelpOption(): its --help-all would need the application object.
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")},
        QCoreApplication::translate("main", "Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    if (read == ArgumentsRead::BeforeQt) {
        // Qt's options are words after one dash, as Qt itself reads them.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        addQtOptions(parser);
    }
    const bool understood = parser.parse(arguments);
    if (!understood || !parser.positionalArguments().isEmpty()) {
        const QString what = understood
                                 ? QCoreApplication::translate("main", "Unexpected argument '%1'.")
                                       .arg(parser.positionalArguments().constFirst())
                                 : parser.errorText();
        print(stderr,
              QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(name, what));
        return 2;
    }
    if (parser.isSet(help)) {
        const QString text = parser.helpText();
        print(stdout, QStringLiteral("Usage: %1 [options]\n").arg(name)
                          + text.mid(text.indexOf(u'\n') + 1));
        return 0;
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                    QCoreApplication::applicationVersion()));
        return 0;
    }
    return std::nullopt;
}

} // namespace corvane
