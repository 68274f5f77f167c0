#include "appserver/remoteobject/queuedanswer.h"

#include "appserver/remoteobject/rdmgeraarquivo.h"

QueuedAnswer::QueuedAnswer(std::unique_ptr<AnswerStream> answer, std::function<bool()> clientGone)
    : m_answer(std::move(answer))
    , m_clientGone(std::move(clientGone))
    , m_maker([this] { make(); })
{
}

QueuedAnswer::~QueuedAnswer()
{
    stop();
}

void QueuedAnswer::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_maker.joinable())
        m_maker.join();
}

void QueuedAnswer::make()
{
    for (;;) {
        Message message;
        try {
            message.last = !m_answer->next(message.payload);
        } catch (...) {
            std::lock_guard lock(m_mutex);
            m_failure = std::current_exception();
            m_answer.reset();
            m_changed.notify_all();
            return;
        }
        message.rows = m_answer->rows();
        message.outcome = m_answer->outcome();
        if (message.last)
            m_answer.reset(); // its database connection is free for the next call
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stop || m_queue.size() < kMessagesAhead; });
        if (m_stop)
            return;
        const bool last = message.last;
        m_queue.push_back(std::move(message));
        lock.unlock();
        m_changed.notify_all();
        if (last)
            return;
    }
}

bool QueuedAnswer::next(QByteArray &payload)
{
    if (m_ended)
        return false;
    if (m_clientGone && m_clientGone())
        throw RdmGeraArquivo::Abandoned {};
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_queue.empty() || m_failure; });
    if (m_queue.empty())
        std::rethrow_exception(m_failure);
    Message message = std::move(m_queue.front());
    m_queue.pop_front();
    lock.unlock();
    m_changed.notify_all();
    m_rows = message.rows;
    m_outcome = message.outcome;
    if (message.last) {
        m_ended = true;
        stop();
        return false;
    }
    payload = std::move(message.payload);
    return true;
}
