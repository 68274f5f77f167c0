#include "appserver/database/translationdb.h"

#include "appserver/database/backendsql.h"
#include "appserver/database/translationlayout.h"
#include "appserver/log/serverlog.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <stdexcept>

namespace {

// Serialises schema changes of servers that start together on one PostgreSQL database.
constexpr int kSchemaLock = 2600;
// Milliseconds a SQLite connection waits for another's write lock before failing.
constexpr int kSqliteBusyTimeoutMs = 5000;

QSqlQuery exec(QSqlDatabase &database, const QString &sql)
{
    QSqlQuery query(database);
    if (!query.exec(sql))
        throw std::runtime_error("database statement failed: " + query.lastError().text().toStdString());
    return query;
}

// A database left in the older layout still answers; the operator learns why.
void reportLayout(const QString &failure)
{
    if (!failure.isEmpty())
        ServerLog::write(QStringLiteral("TRADUCAO keeps its older layout (rows read with a sort): %1").arg(failure));
}

} // namespace

static void initResources()
{
    Q_INIT_RESOURCE(appserver);
}

TranslationDb::TranslationDb(const QString &address, const QString &connectionName)
    : m_address(DatabaseAddress::parse(address))
    , m_connectionName(connectionName)
{
    initResources();
    const QString driver = m_address.backend == DatabaseAddress::Backend::SQLite ? QStringLiteral("QSQLITE")
                                                                                 : QStringLiteral("QPSQL");
    m_database = QSqlDatabase::addDatabase(driver, connectionName);
    if (m_address.backend == DatabaseAddress::Backend::SQLite) {
        m_database.setDatabaseName(m_address.file);
        m_database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kSqliteBusyTimeoutMs));
    } else {
        m_database.setHostName(m_address.host);
        m_database.setPort(m_address.port);
        m_database.setUserName(m_address.user);
        m_database.setDatabaseName(m_address.database);
        m_database.setConnectOptions(m_address.options);
    }
    if (!m_database.isValid())
        throw std::runtime_error("the Qt SQL driver " + driver.toStdString() + " is not installed");
    if (!m_database.open())
        throw std::runtime_error("cannot open " + DatabaseAddress::masked(address).toStdString() + ": " + m_database.lastError().text().toStdString());
    createSchema();
}

TranslationDb::~TranslationDb()
{
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

void TranslationDb::createSchema()
{
    const QString schema = backendsql::schemaResource(m_address.backend);
    if (m_address.backend == DatabaseAddress::Backend::SQLite) {
        if (translationlayout::current(m_database, m_address.backend))
            runScript(schema);
        else
            reportLayout(translationlayout::migrate(m_database, m_address.backend, kSchemaLock, [&] { runScript(schema); }));
        return;
    }
    // A role that may only read finds the tables in place and creates nothing.
    QSqlQuery present = exec(m_database, QStringLiteral(
        "SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema() "
        "AND table_name IN ('idioma', 'progtrad', 'traducao')"));
    if (present.next() && present.value(0).toInt() == 3) {
        if (!translationlayout::current(m_database, m_address.backend))
            reportLayout(translationlayout::migrate(m_database, m_address.backend, kSchemaLock, {}));
        return;
    }
    m_database.transaction();
    try {
        exec(m_database, QStringLiteral("SET LOCAL client_min_messages TO WARNING")); // no notice for each existing table
        exec(m_database, QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLock));
        runScript(schema);
    } catch (...) {
        m_database.rollback();
        throw;
    }
    if (!m_database.commit())
        throw std::runtime_error("cannot create the schema: " + m_database.lastError().text().toStdString());
}

void TranslationDb::dropSchema()
{
    for (const char *table : { "TRADUCAO", "PROGTRAD", "IDIOMA" })
        exec(m_database, QStringLiteral("DROP TABLE IF EXISTS %1").arg(QLatin1String(table)));
}

void TranslationDb::runScript(const QString &resource)
{
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + resource.toStdString());
    QString script;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (!line.trimmed().startsWith(QLatin1String("--")))
            script += line + QLatin1Char('\n');
    }
    for (const QString &statement : script.split(QStringLiteral(";\n"), Qt::SkipEmptyParts)) {
        if (!statement.trimmed().isEmpty())
            exec(m_database, statement);
    }
}
