#pragma once

#include "runtime/core/export.h"

#include <QString>

// "1 linha recebida", "1.234.567 linhas recebidas": how many lines of an answer
// have arrived, as the busy window and qlx02600-gen's terminal count show it.
QLX_EXPORT QString ReceivedLinesText(qint64 lines);
