#include "appserver/service/processsignals.h"

#include <QSocketNotifier>

#include <array>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::array<int, 2> signalPipe { -1, -1 };

void writeToPipe(int number)
{
    const int savedErrno = errno;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1); // full: one is pending already
    errno = savedErrno;
}

} // namespace

ProcessSignals::ProcessSignals(QObject *parent)
    : QObject(parent)
{
    if (::pipe2(signalPipe.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ProcessSignals::readPipe);
    struct sigaction action {};
    action.sa_handler = writeToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : { SIGTERM, SIGINT, SIGHUP })
        ::sigaction(number, &action, nullptr);
}

ProcessSignals::~ProcessSignals()
{
    for (const int number : { SIGTERM, SIGINT, SIGHUP })
        ::signal(number, SIG_DFL);
    delete m_notifier;
    for (int &end : signalPipe) {
        if (end >= 0)
            ::close(std::exchange(end, -1));
    }
}

void ProcessSignals::readPipe()
{
    char numbers[16];
    ssize_t got = 0;
    while ((got = ::read(signalPipe[0], numbers, sizeof numbers)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            if (numbers[i] == SIGHUP)
                emit reloadRequested();
            else
                emit stopRequested();
        }
    }
}
