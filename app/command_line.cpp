#include "command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace corvane {

namespace {

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
    const bool understood = parser.parse(arguments);
    if (!understood && read == ArgumentsRead::BeforeQt)
        return std::nullopt;
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
