#pragma once

// A bench opens a socket a client: its own descriptor limit is raised to the hard one.
#include <sys/resource.h>

inline void raiseOwnDescriptorLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}
