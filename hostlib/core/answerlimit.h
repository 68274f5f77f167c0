#pragma once

#include "runtime/core/export.h"

#include <QtGlobal>

// The largest answer memory limit that may be configured, in MiB (1 TiB).
constexpr qint64 kLargestAnswerLimitMiB = qint64(1) << 20;

// The memory, in bytes, that one answer of the application server may take on
// this computer. Read at every connect, from the first of: the environment variable
// QLX_ANSWER_LIMIT_MIB, the settings file's key "answer-limit-mib" (both in MiB),
// else TSocketConnection::kDefaultAnswerLimit. A value that is no whole number from
// 1 to kLargestAnswerLimitMiB raises EConvertError naming where it was read.
QLX_EXPORT qint64 AnswerMemoryLimit();
