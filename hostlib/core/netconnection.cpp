#include "hostlib/core/netconnection.h"

QString TNetConnection::connectFailure(const QString &socketError) const
{
    if (ThrowException)
        return TSocketConnection::connectFailure(socketError);
    return QStringLiteral("Não foi possível conectar ao servidor de aplicação %1:%2.").arg(Host, QString::number(Port));
}
