#include "appserver/network/descriptors.h"

#include <QVarLengthArray>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

long raiseDescriptorLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? -1 : long(limit.rlim_cur);
}

bool descriptorsToSpare(int count)
{
    QVarLengthArray<int, 16> opened;
    bool spare = true;
    for (int i = 0; i < count && spare; ++i) {
        const int descriptor = eventfd(0, EFD_CLOEXEC);
        spare = descriptor >= 0;
        if (spare)
            opened.append(descriptor);
    }
    for (int descriptor : opened)
        close(descriptor);
    return spare;
}

DescriptorReserve::DescriptorReserve()
    : m_reserved(::open("/dev/null", O_RDONLY | O_CLOEXEC))
{
}

DescriptorReserve::~DescriptorReserve()
{
    if (m_reserved >= 0)
        ::close(m_reserved);
}

int DescriptorReserve::acceptInReserve(int listener)
{
    if (m_reserved < 0) // lost to another thread the last time: try to take it again
        m_reserved = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (m_reserved < 0)
        return -1;
    ::close(m_reserved);
    m_reserved = -1;
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0)
        m_reserved = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return client;
}

void DescriptorReserve::closeAndRetake(int client)
{
    ::close(client);
    m_reserved = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}
