#pragma once

#include "appserver/network/answerstream.h"

#include <QByteArray>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// An answer's messages made on a thread of their own, a few ahead of the session:
// the lines are composed there while the session sends. Before it hands out each message it asks
// whether the client has gone, and throws RdmGeraArquivo::Abandoned if so.
class QueuedAnswer : public AnswerStream
{
public:
    // Messages made ahead of the session.
    static constexpr size_t kMessagesAhead = 2;

    QueuedAnswer(std::unique_ptr<AnswerStream> answer, std::function<bool()> clientGone);
    // Stops the making thread and waits for it.
    ~QueuedAnswer() override;
    QueuedAnswer(const QueuedAnswer &) = delete;
    QueuedAnswer &operator=(const QueuedAnswer &) = delete;

    bool next(QByteArray &payload) override;

private:
    struct Message
    {
        QByteArray payload;
        bool last = false; // the answer had no more
        qint64 rows = 0; // the answer's, once this message was made
        QString outcome;
    };

    void make();
    void stop();

    std::unique_ptr<AnswerStream> m_answer; // used by the making thread only
    std::function<bool()> m_clientGone;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Message> m_queue;
    std::exception_ptr m_failure; // what stopped the making thread
    bool m_stop = false;
    bool m_ended = false;
    std::thread m_maker;
};
