#include "scriptlinestream.h"

#include "databasefailure.h"
#include "rdmgeraarquivo.h"

#include <datapacket.h>
#include <message.h>

#include <QSqlError>

namespace {

QString placeOf(const Translation &translation)
{
    return QStringLiteral("%1 %2 %3").arg(translation.table, translation.key, translation.column);
}

} // namespace

ScriptLineStream::ScriptLineStream(QSqlQuery query, ScriptDialect dialect, QStringList refs,
                                   std::function<bool()> clientGone)
    : m_query(std::move(query))
    , m_dialect(dialect)
    , m_refs(std::move(refs))
    , m_clientGone(std::move(clientGone))
{
}

bool ScriptLineStream::next(QByteArray &payload)
{
    if (m_done)
        return false;
    protocol::DataPacketWriter packet({ { QStringLiteral("LINHA"), protocol::FieldKind::String, int(kLineLimit) } });
    Translation row;
    qint64 rows = 0; // in this message
    while (packet.size() < kPartSize) {
        if (!m_query.next()) {
            m_done = true;
            if (m_query.lastError().isValid()) {
                m_outcome = QLatin1String(DatabaseFailure::kExceptionClass);
                payload = protocol::encodeExceptionResponse(
                    m_outcome, DatabaseFailure::reportStatement(m_query.lastError().text()));
            } else {
                m_outcome = QStringLiteral("ok");
                m_rows += rows;
                payload = protocol::encodeOkResponse(packet.finish(), m_refs);
            }
            return true;
        }
        if (m_rowsRead++ % RdmGeraArquivo::kClientCheckRows == 0 && m_clientGone && m_clientGone())
            throw RdmGeraArquivo::Abandoned {};
        row.table = m_query.value(0).toString();
        row.key = m_query.value(1).toString();
        row.column = m_query.value(2).toString();
        row.language = m_query.value(3).toString();
        row.text = m_query.value(4).toString();
        row.changedAt = m_query.value(5).toDouble();
        QString failure;
        if (!writeScriptLine(m_line, row, m_dialect))
            failure = QStringLiteral("A tradução de %1 tem caracteres fora do Windows-1252.").arg(placeOf(row));
        // Database command-line tools end a line at a NUL: the rest of the script would be lost.
        else if (m_line.contains('\0'))
            failure = QStringLiteral("A tradução de %1 tem o caractere nulo (NUL).").arg(placeOf(row));
        else if (m_line.size() > kLineLimit)
            failure = QStringLiteral("A linha da tradução de %1 excede %2 bytes (%3).")
                          .arg(placeOf(row), QString::number(kLineLimit), QString::number(m_line.size()));
        if (!failure.isEmpty()) {
            // What was sent is void: the client drops it on this answer.
            m_done = true;
            m_query.finish();
            m_outcome = QStringLiteral("failure");
            payload = protocol::encodeFailureResponse(failure, m_refs);
            return true;
        }
        packet.addString(m_line);
        ++rows;
    }
    m_rows += rows;
    payload = protocol::encodePart(packet.finish());
    return true;
}
