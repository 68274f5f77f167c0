#pragma once

// The process's file descriptors: every socket, thread and database file takes one.

// Raises the soft limit on open descriptors to the hard one; returns the limit now in force.
long raiseDescriptorLimit();
// Whether `count` more descriptors can be opened now (checked by opening and closing them).
bool descriptorsToSpare(int count);

// One descriptor held back for the moment the process has none left: closed, it lets
// one waiting connection be accepted, answered and closed, then it is taken again.
class DescriptorReserve
{
public:
    DescriptorReserve();
    ~DescriptorReserve();
    DescriptorReserve(const DescriptorReserve &) = delete;
    DescriptorReserve &operator=(const DescriptorReserve &) = delete;

    // Accepts one connection waiting on `listener` in the reserved descriptor, hands it
    // to `answer` and closes it; false when none waits or none could be accepted.
    template <typename Answer>
    bool acceptWith(int listener, Answer answer)
    {
        const int client = acceptInReserve(listener);
        if (client < 0)
            return false;
        answer(client);
        closeAndRetake(client);
        return true;
    }

private:
    int acceptInReserve(int listener);
    void closeAndRetake(int client);

    int m_reserved = -1;
};
