#include "appserver/rows/languagetotals.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <sqlite3.h>

namespace languagetotals {

namespace {

struct Counted
{
    qint64 total = 0;
    QDeadlineTimer expires;
};

QMutex mutex;
QHash<QByteArray, Counted> counted; // by database file and language

qint64 count(sqlite3 *database, const QByteArray &language)
{
    sqlite3_stmt *statement = nullptr;
    const char sql[] = "SELECT count(*) FROM TRADUCAO INDEXED BY TRADUCAO_ALTERACAO WHERE IDIDIOMA = ?1";
    if (sqlite3_prepare_v3(database, sql, -1, 0, &statement, nullptr) != SQLITE_OK)
        return -1;
    sqlite3_bind_text(statement, 1, language.constData(), int(language.size()), SQLITE_STATIC);
    const qint64 total = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
    sqlite3_finalize(statement);
    return total;
}

} // namespace

qint64 of(sqlite3 *database, const QByteArray &language)
{
    const char *file = sqlite3_db_filename(database, "main");
    if (!file || !*file)
        return count(database, language); // an in-memory database has no file to name it by
    const QByteArray key = QByteArray(file) + '\0' + language;
    {
        const QMutexLocker locker(&mutex);
        const auto found = counted.constFind(key);
        if (found != counted.cend() && !found->expires.hasExpired())
            return found->total;
    }
    // Counted unlocked: two sessions may count at once, neither waits for the other.
    const qint64 total = count(database, language);
    if (total >= 0) {
        const QMutexLocker locker(&mutex);
        counted.insert(key, { total, QDeadlineTimer(std::chrono::seconds(kLifetimeSeconds)) });
    }
    return total;
}

} // namespace languagetotals
