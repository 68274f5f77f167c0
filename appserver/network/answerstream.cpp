#include "appserver/network/answerstream.h"

#include "protocol/frame.h"

#include <utility>

WholeAnswer::WholeAnswer(QByteArray payload, qint64 rows, QString outcome)
    : m_frame(protocol::frameOf(payload))
{
    m_rows = rows;
    m_outcome = std::move(outcome);
}

bool WholeAnswer::next(QByteArray &frame)
{
    if (m_given)
        return false;
    frame = std::exchange(m_frame, QByteArray());
    m_given = true;
    return true;
}
