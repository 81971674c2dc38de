#pragma once

#include "child_process.h"

#include <QProcess>
#include <QTest>

// The real corvane-standin, started for one test and stopped with it.
struct StandinProcess {
    explicit StandinProcess(const QStringList &arguments)
    {
        endWithThisProcess(process);
        process.start(QStringLiteral(CORVANE_STANDIN_PATH), arguments);
    }
    ~StandinProcess()
    {
        process.terminate();
        process.waitForFinished(3000);
    }

    // Until it prints where it listens; output holds what it printed.
    bool waitUntilListening(int timeoutMs = 5000)
    {
        const auto listening = [this] {
            return (output += process.readAllStandardOutput()).contains("listening on ");
        };
        return QTest::qWaitFor(listening, timeoutMs);
    }

    QProcess process;
    QByteArray output;
};
