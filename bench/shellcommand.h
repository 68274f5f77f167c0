#pragma once

#include "bench/must.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QString>

// Runs a shell command line; its wall time in seconds.
inline double timedShell(const QString &command)
{
    QElapsedTimer clock;
    clock.start();
    const int status = QProcess::execute(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), command });
    must(status == 0, QStringLiteral("failed (%1): %2").arg(status).arg(command.left(300)));
    return double(clock.nsecsElapsed()) / 1e9;
}

inline QString shellQuoted(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}
