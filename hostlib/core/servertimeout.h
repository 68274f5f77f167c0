#pragma once

#include "runtime/core/export.h"

#include <QString>

// How many seconds the application server may stay silent during a connect or a
// call. Read at every connect, from the first of: the host's command-line option
// (SetTimeoutOption), the environment variable QLX_TIMEOUT, the settings file's key
// "timeout"; else kDefaultTimeoutSeconds (120).
QLX_EXPORT int ServerTimeout();

// A whole number of seconds from 1 to kLongestTimeoutSeconds; raises EConvertError,
// naming `source`, for anything else.
QLX_EXPORT int ParseTimeout(const QString &text, const QString &source);
QLX_EXPORT void SetTimeoutOption(const QString &seconds);

constexpr int kLongestTimeoutSeconds = 24 * 60 * 60;
