#include "appserver/log/auditlog.h"

namespace AuditLog {

namespace {

// A client's text as a log value: quoted, at most kMostShown characters, with quotes,
// backslashes and anything outside printable ASCII escaped.
constexpr qsizetype kMostShown = 64;

QString quoted(const QString &text)
{
    QString shown = QStringLiteral("\"");
    for (const QChar c : QStringView(text).left(kMostShown)) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            shown += QLatin1Char('\\') + c;
        else if (c.unicode() >= 0x20 && c.unicode() < 0x7F)
            shown += c;
        else
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    if (text.size() > kMostShown)
        shown += QStringLiteral("...");
    return shown + QLatin1Char('"');
}

QString peerFields(const Peer &peer)
{
    QString fields = QStringLiteral("audit peer=%1").arg(peer.address);
    if (!peer.subject.isEmpty())
        fields += QStringLiteral(" subject=%1").arg(quoted(peer.subject));
    return fields;
}

} // namespace

QString callLine(const Peer &peer, const Call &call)
{
    QString line = peerFields(peer) + QStringLiteral(" call=%1").arg(quoted(call.method));
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
    return peerFields(peer) + QStringLiteral(" end=%1 calls=%2 bytes=%3 seconds=%4").arg(how).arg(calls).arg(bytes).arg(seconds);
}

} // namespace AuditLog
