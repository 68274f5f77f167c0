#include "appserver/network/descriptors.h"

#include <QVarLengthArray>

#include <cstdlib>
#include <dirent.h>
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

FreeDescriptors::FreeDescriptors()
    : m_directory(::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
}

FreeDescriptors::~FreeDescriptors()
{
    if (m_directory >= 0)
        ::close(m_directory);
}

namespace {

// Whether `count` more descriptors can be opened, by opening and closing them: where
// /proc is not mounted.
bool canOpen(int count)
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

} // namespace

bool FreeDescriptors::atLeast(int count)
{
    if (m_directory < 0)
        return canOpen(count);
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || ::lseek(m_directory, 0, SEEK_SET) != 0)
        return false;
    if (limit.rlim_cur == RLIM_INFINITY)
        return true;
    // The limit bounds descriptor numbers: those under it that are open are not free.
    long free = long(limit.rlim_cur);
    alignas(dirent64) char entries[8192];
    for (;;) {
        const ssize_t bytes = ::getdents64(m_directory, entries, sizeof entries);
        if (bytes < 0)
            return false;
        if (bytes == 0)
            return free >= count;
        for (ssize_t at = 0; at < bytes;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(entries + at);
            char *end = nullptr;
            const unsigned long number = std::strtoul(entry->d_name, &end, 10);
            if (end != entry->d_name && *end == '\0' && number < limit.rlim_cur)
                --free;
            at += entry->d_reclen;
        }
    }
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
