#include "appserver/network/answerstream.h"

#include <utility>

WholeAnswer::WholeAnswer(QByteArray payload, qint64 rows, QString outcome)
    : m_payload(std::move(payload))
{
    m_rows = rows;
    m_outcome = std::move(outcome);
}

bool WholeAnswer::next(QByteArray &payload)
{
    if (m_given)
        return false;
    payload = std::exchange(m_payload, QByteArray());
    m_given = true;
    return true;
}
