#include "generator/standardoutput.h"

#include "client/filereplacement.h"
#include "runtime/core/exceptions.h"
#include "runtime/core/systemerror.h"

#include <QString>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool outputClosed = false;

[[noreturn]] void fail(int systemError)
{
    throw EInOutError(QStringLiteral("Erro de E/S ao escrever na saída padrão: %1")
                          .arg(SystemErrorText(systemError)),
                      systemError);
}

} // namespace

void GuardStandardOutput()
{
    // A reader that goes shows as EPIPE on the write, not as a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    // A closed descriptor 1 is held by /dev/null, so that no file opened later takes
    // its place and receives what was meant for standard output.
    if (::fcntl(STDOUT_FILENO, F_GETFD) < 0 && errno == EBADF) {
        outputClosed = true;
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0 && null != STDOUT_FILENO) {
            ::dup2(null, STDOUT_FILENO);
            ::close(null);
        }
    }
}

void WriteStandardOutput(QByteArrayView bytes)
{
    if (outputClosed)
        fail(EBADF);
    if (const int error = WriteWhole(STDOUT_FILENO, bytes.data(), bytes.size()))
        fail(error);
}
