#include "deadline.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

Deadline::Deadline(int seconds, int exitCode, const char *message)
{
    m_watch = std::thread([this, seconds, exitCode, message] {
        std::unique_lock lock(m_mutex);
        if (!m_ended.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_done; })) {
            std::fprintf(stderr, "qlx02600-gen: %s (%d s)\n", message, seconds);
            std::fflush(stderr);
            std::_Exit(exitCode);
        }
    });
}

Deadline::~Deadline()
{
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_ended.notify_one();
    m_watch.join();
}
