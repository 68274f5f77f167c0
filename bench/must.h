#pragma once

#include <QString>
#include <cstdio>
#include <cstdlib>

// Stops the bench with `what` when a step did not succeed.
inline void must(bool ok, const QString &what)
{
    if (!ok) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(what));
        std::exit(1);
    }
}
