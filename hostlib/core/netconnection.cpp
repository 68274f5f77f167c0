#include "hostlib/core/netconnection.h"

#include "hostlib/core/serverorder.h"

#include <QStringList>
#include <algorithm>

QString TNetConnection::connectFailure(const QList<TConnectAttempt> &attempts) const
{
    if (attempts.size() == 1 && ThrowException)
        return TSocketConnection::connectFailure(attempts);
    if (attempts.size() == 1)
        return QStringLiteral("Não foi possível conectar ao servidor de aplicação %1:%2.")
            .arg(attempts.constFirst().host, QString::number(attempts.constFirst().port));
    QStringList servers;
    for (const TConnectAttempt &attempt : attempts) {
        const QString server = TServerAddress { attempt.host, attempt.port }.name();
        servers << (ThrowException ? QStringLiteral("%1 (%2)").arg(server, attempt.reason) : server);
    }
    return QStringLiteral("Não foi possível conectar a nenhum dos servidores de aplicação: %1.")
        .arg(servers.join(QStringLiteral(", ")));
}

bool TNetConnection::connectElsewhere(const QList<TConnectAttempt> &attempts)
{
    const TServerAddress failed { Host, Port };
    if (!ServersInTryOrder().contains(failed))
        return false; // a server given by hand: no list to go on in
    NoteServerFailed(failed);
    for (const TServerAddress &server : ServersInTryOrder()) {
        const bool tried = std::any_of(attempts.begin(), attempts.end(), [&server](const TConnectAttempt &attempt) {
            return TServerAddress { attempt.host, attempt.port } == server;
        });
        if (!tried) {
            Host = server.host;
            Port = server.port;
            return true;
        }
    }
    return false;
}

void TNetConnection::connectSucceeded()
{
    NoteServerAnswered({ Host, Port });
}

bool TNetConnection::SwitchServer()
{
    const TServerAddress lost { Host, Port };
    if (!ServersInTryOrder().contains(lost))
        return false;
    NoteServerFailed(lost);
    // The only one is tried again: behind a load balancer its address reaches another server.
    const TServerAddress next = ServersInTryOrder().constFirst();
    if (OnServerSwitch)
        OnServerSwitch(next.name());
    return true;
}
