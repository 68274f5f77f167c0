#pragma once

#include <QFile>
#include <QList>
#include <unistd.h>

// The CPU time a process has used, user and system (utime + stime of /proc/PID/stat,
// its threads' included), in seconds; -1 when it cannot be read.
inline double procCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command's name, in parentheses, may hold blanks: the fields are counted after it,
    // from the state (field 3); utime and stime are fields 14 and 15, in clock ticks.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}
