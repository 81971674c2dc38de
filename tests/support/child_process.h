#pragma once

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>

// A server a test starts ends with the test, even when the test itself dies
// before it could stop it.
inline void endWithThisProcess(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}
