#pragma once

#include <export.h>

#include <QtGlobal>

// The memory, in bytes, that one answer of the application server may take on
// this computer. Read at every connect, from the first of: the environment variable
// QLX_ANSWER_LIMIT_MIB, the settings file's key "answer-limit-mib" (both in MiB),
// else TSocketConnection::kDefaultAnswerLimit. A value that is no positive whole
// number is ignored.
QLX_EXPORT qint64 AnswerMemoryLimit();
