#pragma once

#include "runtime/core/socketconnection.h"

// The host's connection component to an application server.
class QLX_EXPORT TNetConnection : public TSocketConnection
{
public:
    // With ThrowException set, a failed connect's message carries the socket's
    // own error text; either way the failure is raised.
    bool ThrowException = true;

protected:
    QString connectFailure(const QString &socketError) const override;
};
