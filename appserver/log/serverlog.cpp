#include "appserver/log/serverlog.h"

#include <cstdio>

void logLine(QString line)
{
    line.replace(QLatin1Char('\n'), QLatin1String(" | "));
    // One stdio call: stdio locks the stream for it.
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}
