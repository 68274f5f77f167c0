#include "appserver/remoteobject/rdmgeraarquivo.h"

#include "appserver/database/backendsql.h"
#include "appserver/database/connectionloss.h"
#include "appserver/database/databasefailure.h"
#include "appserver/database/replaylag.h"
#include "appserver/log/calllog.h"
#include "appserver/log/serverlog.h"
#include "appserver/metrics/servermetrics.h"
#include "appserver/remoteobject/queuedanswer.h"
#include "appserver/remoteobject/scriptlinestream.h"
#include "appserver/rows/readaheadrows.h"
#include "appserver/rows/scriptrowsource.h"

#include "protocol/contract.h"
#include "protocol/cp1252.h"
#include "protocol/datapacket.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <system_error>

namespace contract = protocol::contract;
using protocol::ArgumentKind;
using protocol::DataPacketWriter;
using protocol::FieldKind;

namespace {

// A call the object cannot take: answered with an exception response.
struct BadCall
{
    QString exceptionClass;
    QString message;
};

// A failure the server reports in the result ({"ok": false}).
struct ReportedFailure
{
    QString message;
};

// A statement the database did not run.
struct StatementFailed
{
    QString detail;
    bool connectionLost = false; // opening the connection anew may help
};

void expectArguments(const protocol::Request &request, std::initializer_list<ArgumentKind> kinds)
{
    bool matches = request.args.size() == qsizetype(kinds.size());
    qsizetype i = 0;
    for (ArgumentKind kind : kinds) {
        if (!matches)
            break;
        const ArgumentKind given = request.args.at(i++).kind;
        // A text may come by value or by reference.
        matches = given == kind || (kind != ArgumentKind::Date && given != ArgumentKind::Date);
    }
    if (!matches)
        throw BadCall { QStringLiteral("EOleException"),
                        QStringLiteral("Argumentos inválidos para %1.").arg(request.method) };
}

[[noreturn]] void failed(const QSqlError &error, DatabaseAddress::Backend backend, QSqlDatabase &database)
{
    throw StatementFailed { ConnectionLoss::describe(error), ConnectionLoss::lost(error, backend, database) };
}

QSqlQuery run(QSqlDatabase &database, DatabaseAddress::Backend backend, const QString &sql,
              const QVariantList &values = {})
{
    QSqlQuery query(database);
    query.setForwardOnly(true);
    // A statement that cannot be prepared (a table gone) fails with its own error, not
    // with the one its execution would give.
    if (!query.prepare(sql))
        failed(query.lastError(), backend, database);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        failed(query.lastError(), backend, database);
    return query;
}

// Windows-1252 bytes of a text; nullopt when a character has no byte there.
std::optional<QByteArray> toCp1252(const QString &text)
{
    bool complete = false;
    QByteArray bytes = protocol::cp1252::fromUnicode(text, '?', &complete);
    if (!complete)
        return std::nullopt;
    return bytes;
}

// A stored value as the packet carries it in a field of a declared size. A value the
// client would refuse (characters outside Windows-1252, longer than the field) is a
// reported failure naming its row, so that one bad row never reaches the client.
QByteArray fieldValue(const QString &value, const protocol::FieldDesc &field, const QString &row)
{
    const std::optional<QByteArray> bytes = toCp1252(value);
    if (!bytes)
        throw ReportedFailure { QStringLiteral("O campo %1 de %2 tem caracteres fora do Windows-1252.").arg(field.name, row) };
    if (field.size > 0 && bytes->size() > field.size)
        throw ReportedFailure { QStringLiteral("O campo %1 de %2 excede o tamanho %3 (%4 caracteres).")
                                    .arg(field.name, row, QString::number(field.size), QString::number(bytes->size())) };
    return *bytes;
}

// The codes of a table list: blank-padded codes joined with nothing between them;
// each code once, in the order of its first place.
QStringList splitTableList(const QString &list)
{
    QStringList codes;
    QSet<QString> seen;
    const QStringView all(list);
    for (qsizetype at = 0; at < all.size(); at += contract::kTableCode.size) {
        const QString code = all.mid(at, contract::kTableCode.size).trimmed().toString();
        if (!code.isEmpty() && !seen.contains(code)) {
            seen.insert(code);
            codes.append(code);
        }
    }
    return codes;
}

// Every translatable table, in code order, with its mark.
QList<QPair<QString, QString>> allTables(QSqlDatabase &database, DatabaseAddress::Backend backend)
{
    QList<QPair<QString, QString>> tables;
    QSqlQuery query = run(database, backend, QStringLiteral("SELECT CDPROGTRAD, IDMARCADO FROM PROGTRAD ORDER BY CDPROGTRAD"));
    while (query.next())
        tables.append({ query.value(0).toString(), query.value(1).toString() });
    return tables;
}

// The listed codes; a code that is no translatable table is a reported failure.
QStringList knownTables(const QList<QPair<QString, QString>> &tables, const QStringList &codes)
{
    QSet<QString> known;
    for (const auto &table : tables)
        known.insert(table.first);
    for (const QString &code : codes) {
        if (!known.contains(code))
            throw ReportedFailure { QStringLiteral("Tabela não cadastrada para tradução: %1.").arg(code) };
    }
    return codes;
}

std::unique_ptr<AnswerStream> databaseError(const QString &message)
{
    return std::make_unique<WholeAnswer>(
        protocol::encodeExceptionResponse(QLatin1String(DatabaseFailure::kExceptionClass), message), 0,
        QLatin1String(DatabaseFailure::kExceptionClass));
}

} // namespace

RdmGeraArquivo::RdmGeraArquivo(QSqlDatabase database, DatabaseAddress::Backend backend, ScriptDialect dialect,
                               ClientGone clientGone)
    : m_database(std::move(database))
    , m_backend(backend)
    , m_dialect(dialect)
    , m_clientGone(std::move(clientGone))
{
}

QByteArray RdmGeraArquivo::failureAnswer(const protocol::Request &request, const QString &message)
{
    QStringList refs;
    for (const protocol::Argument &argument : request.args) {
        if (argument.kind == ArgumentKind::StrRef)
            refs << argument.text;
    }
    return protocol::encodeFailureResponse(message, refs);
}

std::unique_ptr<AnswerStream> RdmGeraArquivo::answer(const protocol::Request &request, AuditLog::Call *call)
{
    CallLog::record(request);
    AuditLog::Call ignored;
    AuditLog::Call &audit = call ? *call : ignored;
    audit.method = request.method;
    try {
        return dispatch(request, audit);
    } catch (const StatementFailed &failure) {
        if (failure.connectionLost)
            return reopenAndRetry(request, audit, failure.detail);
        return databaseError(DatabaseFailure::reportStatement(failure.detail)); // it would fail again the same way
    }
}

std::unique_ptr<AnswerStream> RdmGeraArquivo::reopenAndRetry(const protocol::Request &request, AuditLog::Call &call,
                                                             const QString &reason)
{
    // A connection the database dropped (a restart) fails every later statement: it
    // is opened anew and the call tried once more, at once.
    ServerLog::write(QStringLiteral("database connection lost, reopening the session's connection: %1").arg(reason));
    m_database.close();
    ServerMetrics::databaseReconnected();
    if (!m_database.open())
        return databaseError(DatabaseFailure::report(QStringLiteral("O banco de dados do servidor de aplicação não está acessível"),
                                                     ConnectionLoss::describe(m_database.lastError())));
    try {
        return dispatch(request, call);
    } catch (const StatementFailed &failure) {
        return databaseError(DatabaseFailure::reportStatement(failure.detail));
    }
}

std::unique_ptr<AnswerStream> RdmGeraArquivo::dispatch(const protocol::Request &request, AuditLog::Call &call)
{
    try {
        if (request.object != QLatin1String(contract::kObjectName)) {
            call.object = request.object.isNull() ? QStringLiteral("") : request.object;
            throw BadCall { QStringLiteral("EOleSysError"), QStringLiteral("Objeto desconhecido: %1.").arg(request.object) };
        }
        ReplayLag::warnWhenBehind(m_database, m_backend);
        if (request.method == QLatin1String(contract::kGetIdioma))
            return getIdioma(request);
        if (request.method == QLatin1String(contract::kGetTabela))
            return getTabela(request, call);
        if (request.method == QLatin1String(contract::kGetPropriedCds))
            return getPropriedCds(request, call);
        throw BadCall { QStringLiteral("EOleException"), QStringLiteral("Método desconhecido: %1.").arg(request.method) };
    } catch (const BadCall &bad) {
        return std::make_unique<WholeAnswer>(protocol::encodeExceptionResponse(bad.exceptionClass, bad.message), 0,
                                             bad.exceptionClass);
    } catch (const ReportedFailure &failure) {
        return std::make_unique<WholeAnswer>(failureAnswer(request, failure.message), 0, QStringLiteral("failure"));
    }
}

std::unique_ptr<AnswerStream> RdmGeraArquivo::getIdioma(const protocol::Request &request)
{
    expectArguments(request, {});
    const QList<protocol::FieldDesc> fields { contract::kLanguageId.desc(), contract::kLanguageName.desc(),
                                              contract::kLanguageProperty.desc(), contract::kLanguageGenerated.desc() };
    DataPacketWriter packet(fields);
    QSqlQuery query = run(m_database, m_backend, QStringLiteral("SELECT IDIDIOMA, DSIDIOMA, IDIPROP, %1 FROM IDIOMA ORDER BY NRORDEM, %2")
                                          .arg(backendsql::dayCount(m_backend, QStringLiteral("DTGERIDITRAD")),
                                               backendsql::insertionOrder(m_backend)));
    qint64 rows = 0;
    while (query.next()) {
        ++rows;
        const QString row = QStringLiteral("IDIOMA %1").arg(query.value(0).toString());
        for (int column = 0; column < 3; ++column) {
            if (query.isNull(column))
                packet.addNull();
            else
                packet.addString(fieldValue(query.value(column).toString(), fields.at(column), row));
        }
        if (query.isNull(3))
            packet.addNull();
        else
            packet.addDateTime(query.value(3).toDouble());
    }
    return std::make_unique<WholeAnswer>(protocol::encodeOkResponse(packet.finish(), {}), rows, QStringLiteral("ok"));
}

std::unique_ptr<AnswerStream> RdmGeraArquivo::getTabela(const protocol::Request &request, AuditLog::Call &call)
{
    expectArguments(request, { ArgumentKind::Str, ArgumentKind::Str });
    const QString list = request.args.at(0).text;
    const bool all = request.args.at(1).text == QLatin1String(contract::kAllTablesScope);
    const QList<QPair<QString, QString>> tables = allTables(m_database, m_backend);
    QHash<QString, QString> marks;
    QStringList codes;
    for (const auto &[code, mark] : tables) {
        marks.insert(code, mark);
        if (all)
            codes << code;
    }
    if (!all)
        codes = knownTables(tables, splitTableList(list));
    call.tables = int(codes.size());

    const protocol::FieldDesc markField = contract::kTableMark.desc();
    const protocol::FieldDesc codeField = contract::kTableCode.desc();
    DataPacketWriter packet({ markField, codeField });
    QString normalised;
    for (const QString &code : codes) {
        const QString row = QStringLiteral("PROGTRAD %1").arg(code);
        const QByteArray padded = fieldValue(code, codeField, row).leftJustified(contract::kTableCode.size, ' ');
        packet.addString(fieldValue(marks.value(code), markField, row));
        packet.addString(padded);
        normalised += code.leftJustified(contract::kTableCode.size, QLatin1Char(' '));
    }
    QStringList refs;
    if (request.args.at(0).kind == ArgumentKind::StrRef)
        refs << (all ? list : normalised); // a list comes back in the padded form the server splits
    return std::make_unique<WholeAnswer>(protocol::encodeOkResponse(packet.finish(), refs), codes.size(),
                                         QStringLiteral("ok"));
}

std::unique_ptr<AnswerStream> RdmGeraArquivo::getPropriedCds(const protocol::Request &request, AuditLog::Call &call)
{
    expectArguments(request, { ArgumentKind::Str, ArgumentKind::Str, ArgumentKind::Date });
    const QString language = request.args.at(0).text.trimmed();
    const QString list = request.args.at(1).text;
    const double since = request.args.at(2).date;
    call.language = language;
    const QStringList tableList = splitTableList(list);
    call.tables = int(tableList.size());
    const QStringList codes = knownTables(allTables(m_database, m_backend), tableList);

    std::unique_ptr<ScriptRows> rows;
    try {
        rows = openScriptRows(m_database, m_backend, { language, since, codes });
    } catch (const std::runtime_error &failure) {
        throw StatementFailed { QString::fromStdString(failure.what()) };
    }
    try {
        if (ReadAheadRows::pays())
            rows = std::make_unique<ReadAheadRows>(std::move(rows));
        auto lines = std::make_unique<ScriptLineStream>(std::move(rows), m_dialect, QStringList { list });
        return std::make_unique<QueuedAnswer>(std::move(lines), m_clientGone);
    } catch (const std::system_error &) {
        // No thread to read or compose on: the process is out of threads or address space.
        throw BadCall { QStringLiteral("EServerBusy"),
                        QStringLiteral("Servidor de aplicação ocupado: não foi possível iniciar a leitura das traduções. "
                                       "Tente novamente mais tarde.") };
    }
}
