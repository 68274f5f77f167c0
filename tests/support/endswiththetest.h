#pragma once

// A process a test starts ends with the test, whatever ends the test (a failure, a
// crash, ctest's time-out): the kernel kills it once the test's thread that started
// it is gone (PR_SET_PDEATHSIG), so no display, compositor or server outlives a run.
#include <QProcess>
#include <csignal>
#include <functional>
#include <sys/prctl.h>
#include <unistd.h>

inline void EndsWithTheTest(QProcess &process, std::function<void()> alsoInChild = {})
{
    const pid_t test = ::getpid();
    process.setChildProcessModifier([test, alsoInChild] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != test) // the test ended before this could be asked
            ::_exit(1);
        if (alsoInChild)
            alsoInChild();
    });
}
