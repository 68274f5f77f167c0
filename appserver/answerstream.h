#pragma once

#include <QByteArray>

// An answer on its way to the client, handed out a message at a time so that the
// session can stop asking while the client is slow.
class AnswerStream
{
public:
    virtual ~AnswerStream() = default;
    // The payload of the next frame; false once the last was given.
    virtual bool next(QByteArray &payload) = 0;
};

// An answer that is one message.
class WholeAnswer : public AnswerStream
{
public:
    explicit WholeAnswer(QByteArray payload);
    bool next(QByteArray &payload) override;

private:
    QByteArray m_payload;
    bool m_given = false;
};
