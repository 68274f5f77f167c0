#pragma once

#include "runtime/core/export.h"

#include <QString>

class QLineEdit;

// Gives the edit the button that clears it, named for a screen reader by `name`
// (Qt's own is nameless) and hinted by it under the pointer.
QLX_EXPORT void ShowClearButton(QLineEdit &edit, const QString &name);
