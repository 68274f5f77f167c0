#pragma once

// Everything is built with hidden visibility; this marks what a library offers.
#define QLX_EXPORT __attribute__((visibility("default")))
