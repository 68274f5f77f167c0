#include "answerstream.h"

#include <utility>

WholeAnswer::WholeAnswer(QByteArray payload)
    : m_payload(std::move(payload))
{
}

bool WholeAnswer::next(QByteArray &payload)
{
    if (m_given)
        return false;
    payload = std::exchange(m_payload, QByteArray());
    m_given = true;
    return true;
}
