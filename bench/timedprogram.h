#pragma once

#include "bench/must.h"
#include "bench/procstatus.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Milliseconds between two readings of a running program's peak memory.
constexpr int kPeakPollMs = 2;

// Runs a program to its end: its wall time in seconds and its peak memory in KiB
// (as last read, kPeakPollMs before its end at most).
struct Run
{
    double wall = 0;
    qint64 peakKiB = 0;
};
inline Run timedProgram(const QString &program, const QStringList &arguments, int expectedStatus = 0)
{
    QList<QByteArray> bytes { program.toLocal8Bit() };
    for (const QString &argument : arguments)
        bytes << argument.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    QElapsedTimer clock;
    clock.start();
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    must(spawned == 0, QStringLiteral("cannot run ") + program);
    // Its own peak, read while it runs: a child started from this process inherits
    // this process's peak as its ru_maxrss.
    int status = 0;
    qint64 peakKiB = 0;
    for (;;) {
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        must(ended >= 0, QStringLiteral("lost ") + program);
        if (ended == pid)
            break;
        peakKiB = std::max(peakKiB, procStatusKiB(pid, "VmHWM"));
        QThread::msleep(kPeakPollMs);
    }
    must(WIFEXITED(status) && WEXITSTATUS(status) == expectedStatus, QStringLiteral("%1 failed (%2)").arg(program).arg(status));
    return { double(clock.nsecsElapsed()) / 1e9, peakKiB };
}
