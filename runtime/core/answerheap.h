#pragma once

#include "runtime/core/export.h"

#include <cstddef>

// glibc serves a block of 128 KiB or more straight from the kernel and returns it
// when freed, and gives the heap's free top back at 128 KiB. A large answer is
// read through buffers of that size made and freed chunk after chunk (the TLS
// socket's, the frames'), so each one was faulted in page by page, every time:
// the larger share of what TLS cost the client. These keep such blocks in the heap.
constexpr std::size_t kHeapBlockThreshold = std::size_t(4) << 20; // blocks below it come from the heap
constexpr std::size_t kHeapTrimThreshold = std::size_t(16) << 20; // free top kept up to this size

// Sets the two thresholds for the whole process; call once, at the start of a
// program that receives answers. False when the allocator refuses them, as one that
// is not glibc's does (AddressSanitizer's, in the sanitizer build).
QLX_EXPORT bool KeepAnswerBuffersInHeap();
