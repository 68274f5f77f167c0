#include "appserver/database/replaylag.h"

#include "appserver/log/serverlog.h"

#include <QSqlQuery>

void ReplayLag::warnWhenBehind(QSqlDatabase &database, DatabaseAddress::Backend backend)
{
    if (backend != DatabaseAddress::Backend::PostgreSQL)
        return;
    // NULL on a primary, and on a standby that has replayed no transaction since it
    // started. A standby streaming with nothing received left to replay is current:
    // an idle primary sends nothing, which is no delay. Without its primary (gone,
    // or not yet reached) the delay is the age of the last change it replayed.
    QSqlQuery query(database);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral(
            "SELECT CASE WHEN NOT pg_is_in_recovery() THEN NULL "
            "WHEN pg_last_wal_receive_lsn() = pg_last_wal_replay_lsn() "
            "AND EXISTS (SELECT 1 FROM pg_stat_wal_receiver) THEN 0 "
            "ELSE EXTRACT(EPOCH FROM now() - pg_last_xact_replay_timestamp()) END"))
        || !query.next() || query.isNull(0))
        return;
    const double seconds = query.value(0).toDouble();
    if (seconds <= kReplayLagWarningSeconds)
        return;
    ServerLog::Line() << "standby replay lag " << qint64(seconds) << " s (over " << kReplayLagWarningSeconds
                      << " s): translations changed on the primary in the last " << qint64(seconds)
                      << " s may be missing from this call's answer, as from a generation whose \"changed since\" "
                         "moment is that recent";
}
