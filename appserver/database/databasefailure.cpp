#include "appserver/database/databasefailure.h"

#include "appserver/log/serverlog.h"

#include <QRandomGenerator>

namespace DatabaseFailure {

QString report(const QString &summary, const QString &detail)
{
    // Random, so that references stay apart across restarts and across the servers of
    // one database; eight hex digits are easy to read out over the phone.
    const QString reference = QStringLiteral("%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')).toUpper();
    ServerLog::write(QStringLiteral("database error %1: %2").arg(reference, detail));
    return QStringLiteral("%1 (referência %2).").arg(summary, reference);
}

QString reportStatement(const QString &detail)
{
    return report(QStringLiteral("Erro no banco de dados do servidor de aplicação"), detail);
}

} // namespace DatabaseFailure
