#pragma once

#include <export.h>

class QWidget;

// A busy window with a running animation over the owner, until hidden.
QLX_EXPORT void ActiveShowAvi(QWidget *owner, int kind);
// Hides the busy window; harmless when none shows.
QLX_EXPORT void DeactiveShowAvi();

QLX_EXPORT bool ShowAviVisible();
// How many times the busy window was put up since the program started.
QLX_EXPORT int ShowAviShownCount();
