#pragma once

#include "runtime/core/export.h"

class QWidget;

// While a remote call waits, the event loop runs: the windows are drawn, resized
// and answer the desktop's pings. The screens' own handlers must not run in the
// middle of the call, so for its length an application-wide filter holds off,
// for every window that was up when the call began (the held windows):
//  - user input: keys go to the window kept live (the busy window) instead, the
//    rest (mouse, wheel, shortcuts, drops) is dropped;
//  - the desktop's close requests, which are refused, not queued.
// Forms fire no activation or exit handlers meanwhile (see TForm). Windows that
// open during the call (a question the busy window asks) take input as usual.

// Marks a window that takes input while calls wait.
QLX_EXPORT void KeepLiveDuringCalls(QWidget *window);
// True while a remote call waits.
QLX_EXPORT bool CallWaiting();
