#pragma once

#include <QByteArray>
#include <QString>

// An answer on its way to the client, handed out a message at a time so that the
// session can stop asking while the client is slow.
class AnswerStream
{
public:
    virtual ~AnswerStream() = default;
    // The next frame, header and payload; false once the last was given.
    virtual bool next(QByteArray &frame) = 0;

    // Rows handed out so far.
    qint64 rows() const { return m_rows; }
    // How the answer ended, once its last message was given: "ok", "failure" (a
    // failure reported in the result) or the class of the exception sent.
    const QString &outcome() const { return m_outcome; }

protected:
    qint64 m_rows = 0;
    QString m_outcome;
};

// An answer that is one message.
class WholeAnswer : public AnswerStream
{
public:
    WholeAnswer(QByteArray payload, qint64 rows, QString outcome);
    bool next(QByteArray &frame) override;

private:
    QByteArray m_frame;
    bool m_given = false;
};
