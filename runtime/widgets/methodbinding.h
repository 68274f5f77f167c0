#pragma once

#include "runtime/widgets/controlevents.h"
#include "runtime/widgets/form.h"

// Binds an event to a handler of the owner found by its name at run time, as a
// form description names its handlers. A missing handler is an error at binding.
QLX_EXPORT TNotifyEvent NotifyHandlerByName(QObject *owner, const char *name);
QLX_EXPORT TCloseEvent CloseHandlerByName(QObject *owner, const char *name);
