#include "appserver/log/auditlog.h"

#include "appserver/log/serverlog.h"

namespace AuditLog {

namespace {

using ServerLog::quoted;

QString peerFields(const Peer &peer)
{
    QString fields = QStringLiteral("peer=%1").arg(peer.address);
    if (!peer.subject.isEmpty())
        fields += QStringLiteral(" subject=%1").arg(quoted(peer.subject));
    return fields;
}

} // namespace

QString callLine(const Peer &peer, const Call &call)
{
    QString line = QStringLiteral("audit ") + peerFields(peer) + QStringLiteral(" call=%1").arg(quoted(call.method));
    if (!call.object.isNull())
        line += QStringLiteral(" object=%1").arg(quoted(call.object));
    if (!call.language.isNull())
        line += QStringLiteral(" language=%1").arg(quoted(call.language));
    if (call.tables >= 0)
        line += QStringLiteral(" tables=%1").arg(call.tables);
    return line + QStringLiteral(" lines=%1 bytes=%2 ms=%3 outcome=%4")
                      .arg(call.lines)
                      .arg(call.bytes)
                      .arg(call.milliseconds)
                      .arg(call.outcome);
}

QString endLine(const Peer &peer, const QString &how, qint64 calls, qint64 bytes, qint64 seconds)
{
    return QStringLiteral("audit ") + peerFields(peer)
           + QStringLiteral(" end=%1 calls=%2 bytes=%3 seconds=%4").arg(how).arg(calls).arg(bytes).arg(seconds);
}

QString droppedLine(const Peer &peer, qint64 answered, const QString &reason)
{
    return QStringLiteral("client dropped ") + peerFields(peer) + QStringLiteral(" answers=%1: %2").arg(answered).arg(reason);
}

} // namespace AuditLog
