#pragma once

#include "child_process.h"

#include <QProcess>
#include <QStringList>
#include <QTest>

// The real corvane-standin, started for one test and stopped with it.
class StandinProcess {
public:
    // launcher: a program that runs it in the same process, such as
    // {"prlimit", "--nofile=64:64"}.
    explicit StandinProcess(const QStringList &arguments, const QStringList &launcher = {})
    {
        if (launcher.isEmpty()) {
            process.setProgram(QStringLiteral(CORVANE_STANDIN_PATH));
            process.setArguments(arguments);
        } else {
            process.setProgram(launcher.first());
            process.setArguments(launcher.mid(1) + QStringList{QStringLiteral(CORVANE_STANDIN_PATH)}
                                 + arguments);
        }
        endWithThisProcess(process);
        process.start();
    }
    ~StandinProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(3000))
                process.kill();
            process.waitForFinished(3000);
        }
    }

    // Waits for the line that says where it listens; its lines so far.
    bool waitUntilListening(int timeoutMs = 5000)
    {
        return QTest::qWaitFor(
                   [this] {
                       output += process.readAllStandardOutput();
                       return output.contains("listening on ")
                              || process.state() == QProcess::NotRunning;
                   },
                   timeoutMs)
               && output.contains("listening on ");
    }

    // The port of its first address.
    quint16 port() const
    {
        const QByteArray line = output.mid(output.indexOf("listening on "));
        const qsizetype colon = line.indexOf(':', line.indexOf(']') + 1);
        return quint16(line.mid(colon + 1).split(',').first().trimmed().toUInt());
    }

    QProcess process;
    QByteArray output;
};
