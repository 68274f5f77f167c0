#include "appserver/remoteobject/scriptlinestream.h"

#include "appserver/database/databasefailure.h"

#include "protocol/datapacket.h"
#include "protocol/message.h"


namespace {

QString placeOf(const Translation &translation)
{
    const auto text = [](std::string_view bytes) { return QString::fromUtf8(bytes.data(), qsizetype(bytes.size())); };
    return QStringLiteral("%1 %2 %3").arg(text(translation.table), text(translation.key), text(translation.column));
}

} // namespace

ScriptLineStream::ScriptLineStream(std::unique_ptr<ScriptRows> rows, ScriptDialect dialect, QStringList refs)
    : m_source(std::move(rows))
    , m_dialect(dialect)
    , m_refs(std::move(refs))
{
}

bool ScriptLineStream::next(QByteArray &frame)
{
    if (m_done)
        return false;
    protocol::DataPacketWriter packet({ protocol::contract::kScriptLine.desc() }, kPartCapacity,
                                      protocol::kMessageHeadRoom, spentBuffer());
    Translation row;
    qint64 rows = 0; // in this message
    while (packet.size() < kPartSize) {
        if (!m_source->next(row)) {
            m_done = true;
            const QString error = m_source->error();
            m_source.reset();
            if (!error.isEmpty()) {
                m_outcome = QLatin1String(DatabaseFailure::kExceptionClass);
                frame = protocol::frameOf(
                    protocol::encodeExceptionResponse(m_outcome, DatabaseFailure::reportStatement(error)));
            } else {
                m_outcome = QStringLiteral("ok");
                m_rows += rows;
                frame = protocol::okResponseFrame(packet, m_refs);
                m_sent.clear();
            }
            return true;
        }
        // The line is composed in the packet, where it is sent from.
        char *const line = packet.beginString(scriptLineRoom(row));
        char *end = line;
        const LineFault fault = writeScriptLine(line, row, m_dialect, end);
        const qsizetype size = end - line;
        QString failure;
        if (fault == LineFault::MomentNotWritable)
            failure = QStringLiteral("A tradução de %1 tem a data de alteração %2, que o script não pode escrever "
                                     "(só do ano 1 ao ano 9999).")
                          .arg(placeOf(row), QString::number(row.changedAt, 'g', 17));
        else if (fault == LineFault::NotWindows1252)
            failure = QStringLiteral("A tradução de %1 tem caracteres fora do Windows-1252.").arg(placeOf(row));
        // Database command-line tools end a line at a NUL: the rest of the script would be lost.
        else if (fault == LineFault::HoldsNul)
            failure = QStringLiteral("A tradução de %1 tem o caractere nulo (NUL).").arg(placeOf(row));
        else if (size > kLineLimit)
            failure = QStringLiteral("A linha da tradução de %1 excede %2 bytes (%3).")
                          .arg(placeOf(row), QString::number(kLineLimit), QString::number(size));
        if (!failure.isEmpty()) {
            // What was sent is void: the client drops it on this answer.
            m_done = true;
            m_source.reset();
            m_outcome = QStringLiteral("failure");
            frame = protocol::frameOf(protocol::encodeFailureResponse(failure, m_refs));
            return true;
        }
        packet.endString(end);
        ++rows;
    }
    m_rows += rows;
    frame = protocol::partFrame(packet);
    if (m_sent.size() == kBuffersKept)
        m_sent.removeFirst();
    m_sent.append(frame); // shared: it is written to again only once the socket is done with it
    return true;
}

QByteArray ScriptLineStream::spentBuffer()
{
    for (qsizetype i = 0; i < m_sent.size(); ++i) {
        if (m_sent.at(i).isDetached())
            return m_sent.takeAt(i);
    }
    return {};
}
