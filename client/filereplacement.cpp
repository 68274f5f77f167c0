#include "client/filereplacement.h"

#include "runtime/core/exceptions.h"
#include "runtime/core/systemerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// Makes a rename in the file's directory last through a crash of the system, where the
// file system allows (it need not: the file's own contents are synced before).
void syncDirectoryOf(const QString &file)
{
    const int directory = ::open(encoded(QFileInfo(file).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return;
    ::fsync(directory);
    ::close(directory);
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

QString TFileReplacement::targetOf(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return info.exists() ? info.canonicalFilePath() : info.symLinkTarget();
    return path;
}

bool TFileReplacement::replaceable(const struct stat &old)
{
    return S_ISREG(old.st_mode) && old.st_nlink == 1;
}

bool TFileReplacement::takeAttributes(int descriptor, const struct stat &old)
{
    struct stat made {};
    return ::fstat(descriptor, &made) == 0
        && ((made.st_uid == old.st_uid && made.st_gid == old.st_gid) || ::fchown(descriptor, old.st_uid, old.st_gid) == 0)
        && ::fchmod(descriptor, old.st_mode & 07777) == 0; // after fchown, which clears set-id bits
}

TFileReplacement::TFileReplacement(const QString &path)
    : m_path(path)
    , m_target(targetOf(path))
{
    if (!openBeside())
        openInPlace();
}

QString TFileReplacement::replaceWith(const QString &path, const QString &directory, int descriptor,
                                      const std::function<QString()> &giveName)
{
    const QString target = targetOf(path);
    if (QDir(directory).absolutePath() != QFileInfo(target).absolutePath())
        return QString();
    struct stat old {};
    if (::stat(encoded(target).constData(), &old) == 0) {
        if (!replaceable(old) || !takeAttributes(descriptor, old))
            return QString();
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(descriptor, 0666 & ~mask) != 0) // the mode a plain new file gets
            return QString();
    }
    const auto fail = [&path](int systemError) {
        throw EInOutError(QStringLiteral("Erro de E/S ao gravar %1: %2").arg(path, SystemErrorText(systemError)),
                          systemError);
    };
    if (::fdatasync(descriptor) != 0)
        fail(errno);
    if (::rename(encoded(giveName()).constData(), encoded(target).constData()) != 0)
        fail(errno);
    syncDirectoryOf(target);
    return target;
}

TFileReplacement::~TFileReplacement()
{
    discard();
}

bool TFileReplacement::openBeside()
{
    struct stat old {};
    const bool exists = ::stat(encoded(m_target).constData(), &old) == 0;
    if (exists && !replaceable(old))
        return false;
    const QFileInfo target(m_target);
    // 0666 less the umask: the mode a plain new file gets.
    m_beside = std::make_unique<HiddenFile>(target.absolutePath(), QLatin1Char('.') + target.fileName() + QLatin1Char('.'), 0666);
    m_descriptor = m_beside->descriptor();
    if (m_descriptor < 0) {
        m_beside.reset();
        return false;
    }
    if (!exists)
        return true;
    const bool kept = takeAttributes(m_descriptor, old);
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
    if (::fdatasync(m_descriptor) != 0)
        fail(errno);
    if (!inPlace()) {
        if (const int systemError = m_beside->giveName())
            fail(systemError);
        if (::rename(encoded(m_beside->path()).constData(), encoded(m_target).constData()) != 0)
            fail(errno);
        m_beside->renamed(m_target);
    }
    const int descriptor = std::exchange(m_descriptor, -1);
    if (m_beside)
        m_beside.reset();
    else if (::close(descriptor) != 0)
        fail(errno);
    syncDirectoryOf(m_target);
}

void TFileReplacement::discard()
{
    if (m_beside)
        m_beside.reset(); // its name and its descriptor
    else if (m_descriptor >= 0)
        ::close(m_descriptor);
    m_descriptor = -1;
}

void TFileReplacement::checkWritable(const QString &path)
{
    const QString target = targetOf(path);
    if (::access(encoded(QFileInfo(target).absolutePath()).constData(), W_OK | X_OK) == 0)
        return;
    int systemError = errno;
    if (::access(encoded(target).constData(), F_OK) == 0) {
        if (::access(encoded(target).constData(), W_OK) == 0)
            return;
        systemError = errno;
    }
    throw EInOutError(QStringLiteral("Erro de E/S ao gravar %1: %2").arg(path, SystemErrorText(systemError)), systemError);
}

void TFileReplacement::fail(int systemError)
{
    discard();
    throw EInOutError(QStringLiteral("Erro de E/S ao gravar %1: %2").arg(m_path, SystemErrorText(systemError)),
                      systemError);
}
