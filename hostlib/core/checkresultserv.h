#pragma once

#include "runtime/core/socketconnection.h"

#include <QByteArray>

// Inspects a remote method's raw result, {"ok": true, "packet": P} or
// {"ok": false, "message": text}. A failure that the server reports is shown once
// as an error and the action aborted (with `showError` cleared it is raised as
// an exception instead); otherwise the data packet is returned.
QLX_EXPORT QByteArray CheckResultServ(const OleVariant &result, bool showError, int helpContext);
