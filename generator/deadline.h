#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// Ends the process with an exit code and a message when a stage outlasts its
// limit: the socket connection waits for the server without a time-out of its own.
class Deadline
{
public:
    Deadline(int seconds, int exitCode, const char *message);
    ~Deadline(); // the stage ended in time
    Deadline(const Deadline &) = delete;
    Deadline &operator=(const Deadline &) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_done = false;
    std::thread m_watch;
};
