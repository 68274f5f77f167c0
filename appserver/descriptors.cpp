#include "descriptors.h"

#include <QVarLengthArray>

#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

long raiseDescriptorLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? -1 : long(limit.rlim_cur);
}

bool descriptorsToSpare(int count)
{
    QVarLengthArray<int, 16> opened;
    bool spare = true;
    for (int i = 0; i < count && spare; ++i) {
        const int descriptor = eventfd(0, EFD_CLOEXEC);
        spare = descriptor >= 0;
        if (spare)
            opened.append(descriptor);
    }
    for (int descriptor : opened)
        close(descriptor);
    return spare;
}
