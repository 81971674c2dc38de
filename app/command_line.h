#pragma once

#include <QStringList>

#include <optional>

namespace corvane {

// When it is read: before the application object exists, Qt's own options
// (-platform, -style, ...) are still among the arguments and are let pass;
// after, Qt has taken them away.
enum class ArgumentsRead { BeforeQt, AfterQt };

// Answers the command line as a GNU program does: --help and --version print
// to standard output and end with 0; an option it does not know or an
// argument (it takes none) is named on standard error and ends with 2.
// Returns the exit status when the program is to end there, nothing when it
// is to open its window.
std::optional<int> answerCommandLine(const QStringList &arguments, ArgumentsRead read);

} // namespace corvane
