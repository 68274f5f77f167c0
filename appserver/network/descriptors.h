#pragma once

// The process's file descriptors: every socket, thread and database file takes one.

// Raises the soft limit on open descriptors to the hard one; returns the limit now in force.
long raiseDescriptorLimit();

// The descriptor numbers still free under the soft limit, counted in /proc/self/fd
// without opening any: a check that opened descriptors could take the last ones
// from a session thread opening its database at that moment (where /proc is not
// mounted, it falls back to opening and closing them). For one thread.
class FreeDescriptors
{
public:
    FreeDescriptors();
    ~FreeDescriptors();
    FreeDescriptors(const FreeDescriptors &) = delete;
    FreeDescriptors &operator=(const FreeDescriptors &) = delete;

    // Whether at least `count` descriptors can be opened now.
    bool atLeast(int count);

private:
    int m_directory = -1; // /proc/self/fd, held open so that counting takes none
};

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
