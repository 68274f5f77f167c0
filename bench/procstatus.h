#pragma once

#include <QFile>
#include <QList>

// A figure in kB from /proc/PID/status ("VmRSS", "VmHWM"); pid 0 is this process.
inline qint64 procStatusKiB(qint64 pid, const char *key)
{
    QFile status(pid == 0 ? QStringLiteral("/proc/self/status") : QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(qsizetype(qstrlen(key)) + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
