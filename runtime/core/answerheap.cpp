#include "runtime/core/answerheap.h"

#include <malloc.h>

bool KeepAnswerBuffersInHeap()
{
    return mallopt(M_MMAP_THRESHOLD, int(kHeapBlockThreshold)) == 1
        && mallopt(M_TRIM_THRESHOLD, int(kHeapTrimThreshold)) == 1;
}
