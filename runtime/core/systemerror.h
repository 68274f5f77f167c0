#pragma once

#include "runtime/core/export.h"

#include <QString>

// The operating system's reason for a failed call (an errno value) in Portuguese,
// as the screen speaks, for the reasons a user meets writing a file; the system's
// own text for any other.
QLX_EXPORT QString SystemErrorText(int systemError);
