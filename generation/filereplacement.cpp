#include "filereplacement.h"

#include <exceptions.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Names tried for the new file before giving up on writing beside the old one.
constexpr int kTemporaryNameAttempts = 64;

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

} // namespace

int WriteWhole(int descriptor, const char *bytes, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(descriptor, bytes, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : ENOSPC;
        bytes += written;
        size -= written;
    }
    return 0;
}

TFileReplacement::TFileReplacement(const QString &path)
    : m_path(path)
    , m_target(path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        m_target = info.exists() ? info.canonicalFilePath() : info.symLinkTarget();
    if (!openBeside())
        openInPlace();
}

TFileReplacement::~TFileReplacement()
{
    discard();
}

bool TFileReplacement::openBeside()
{
    struct stat old {};
    const bool exists = ::stat(encoded(m_target).constData(), &old) == 0;
    if (exists && (!S_ISREG(old.st_mode) || old.st_nlink > 1))
        return false;
    const QFileInfo target(m_target);
    const QString prefix = target.absolutePath() + QStringLiteral("/.") + target.fileName() + QLatin1Char('.');
    for (int attempt = 0; attempt < kTemporaryNameAttempts && m_descriptor < 0; ++attempt) {
        const QString name = prefix + QString::number(QRandomGenerator::global()->generate64(), 36);
        // 0666 less the umask: the mode a plain new file gets.
        m_descriptor = ::open(encoded(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_descriptor >= 0)
            m_temporary = name;
        else if (errno != EEXIST)
            return false;
    }
    if (m_descriptor < 0)
        return false;
    if (!exists)
        return true;
    struct stat made {};
    const bool kept = ::fstat(m_descriptor, &made) == 0
        && ((made.st_uid == old.st_uid && made.st_gid == old.st_gid) || ::fchown(m_descriptor, old.st_uid, old.st_gid) == 0)
        && ::fchmod(m_descriptor, old.st_mode & 07777) == 0; // after fchown, which clears set-id bits
    if (!kept)
        discard();
    return kept;
}

void TFileReplacement::openInPlace()
{
    m_descriptor = ::open(encoded(m_target).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_descriptor < 0)
        fail(errno);
}

void TFileReplacement::write(const char *bytes, qsizetype size)
{
    if (const int error = WriteWhole(m_descriptor, bytes, size))
        fail(error);
}

void TFileReplacement::commit()
{
    const int descriptor = std::exchange(m_descriptor, -1);
    if (::close(descriptor) != 0)
        fail(errno);
    if (inPlace())
        return;
    if (::rename(encoded(m_temporary).constData(), encoded(m_target).constData()) != 0)
        fail(errno);
    m_temporary.clear();
}

void TFileReplacement::discard()
{
    if (m_descriptor >= 0)
        ::close(std::exchange(m_descriptor, -1));
    if (!m_temporary.isEmpty())
        ::unlink(encoded(std::exchange(m_temporary, QString())).constData());
}

void TFileReplacement::fail(int systemError)
{
    discard();
    // The system's own text, in the user's language where it has one.
    throw EInOutError(QStringLiteral("Erro de E/S ao gravar %1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(systemError))),
                      systemError);
}
