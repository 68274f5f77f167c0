#pragma once

#include "runtime/core/export.h"

// Start-up and shut-down of the screen unit, as the unit table lists them.
namespace UGeraArquivo {
QLX_EXPORT void Initialization();
QLX_EXPORT void Finalization();
}
