#pragma once

#include <QDir>
#include <QFile>
#include <QList>
#include <sys/resource.h>
#include <unistd.h>

// The fields of /proc/PID/stat after the command's name, from the state (field 3) on:
// the name, in parentheses, may hold blanks. Empty when it cannot be read.
inline QList<QByteArray> procStatFields(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ');
}

// The parent of a process; 0 when it cannot be read.
inline qint64 procParent(qint64 pid)
{
    return procStatFields(pid).value(1).toLongLong();
}

// The CPU time a process has used, user and system (utime + stime, fields 14 and 15,
// its threads' included), in seconds; with `withChildren`, that of its children too:
// the live ones' and, once it has waited for them, the ended ones' (cutime + cstime,
// fields 16 and 17). -1 when it cannot be read.
inline double procCpuSeconds(qint64 pid, bool withChildren = false)
{
    const QList<QByteArray> fields = procStatFields(pid);
    if (fields.size() < 15)
        return -1;
    qint64 ticks = fields.at(11).toLongLong() + fields.at(12).toLongLong();
    if (withChildren) {
        ticks += fields.at(13).toLongLong() + fields.at(14).toLongLong();
        const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &process : processes) {
            bool number = false;
            const qint64 child = process.toLongLong(&number);
            if (!number)
                continue;
            const QList<QByteArray> childFields = procStatFields(child);
            if (childFields.size() >= 13 && childFields.at(1).toLongLong() == pid)
                ticks += childFields.at(11).toLongLong() + childFields.at(12).toLongLong();
        }
    }
    return double(ticks) / double(sysconf(_SC_CLK_TCK));
}

// The CPU time, user and system, in seconds, of this process (RUSAGE_SELF, all its
// threads) or of its ended and waited-for children (RUSAGE_CHILDREN).
inline double rusageCpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
