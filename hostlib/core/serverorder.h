#pragma once

#include "hostlib/core/serveraddress.h"

// The order in which this process tries the configured servers: the setting's,
// except that a server that failed (a connect to it, or a call that lost it)
// goes after the others, until it takes a connect again. Read anew at every
// call, so a changed setting counts at once.
QLX_EXPORT QList<TServerAddress> ServersInTryOrder();
QLX_EXPORT void NoteServerFailed(const TServerAddress &server);
QLX_EXPORT void NoteServerAnswered(const TServerAddress &server);
