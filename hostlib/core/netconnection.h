#pragma once

#include "runtime/core/socketconnection.h"

#include <functional>

// The host's connection component to an application server. When Host:Port is
// one of the configured servers (serveraddress.h), a connect that fails there
// goes on to the others in the session's order (serverorder.h), and the server
// that took it is remembered as working.
class QLX_EXPORT TNetConnection : public TSocketConnection
{
public:
    // With ThrowException set, a failed connect's message carries the socket's
    // own error text; either way the failure is raised.
    bool ThrowException = true;
    // Told "host:port" of the server a lost call is repeated on (see SwitchServer).
    std::function<void(const QString &server)> OnServerSwitch;

    // After a call lost Host:Port: notes that server failed, tells OnServerSwitch the
    // server the call goes to next (another configured one first, else the same one,
    // which behind a load balancer reaches another server) and returns true; false
    // when Host:Port is no configured server.
    bool SwitchServer();

protected:
    QString connectFailure(const QList<TConnectAttempt> &attempts) const override;
    bool connectElsewhere(const QList<TConnectAttempt> &attempts) override;
    void connectSucceeded() override;
};
