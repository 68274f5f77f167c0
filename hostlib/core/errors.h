#pragma once

#include "runtime/core/ansistring.h"

// Shows the text as an error; with `abort` set the running action then ends by
// the silent abort, so the call does not return.
QLX_EXPORT void MensErro(const AnsiString &text, bool abort);
QLX_EXPORT void MensErro(const QString &text, bool abort);
