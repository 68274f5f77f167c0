#include "runtime/core/hiddenfile.h"

#include <QFile>
#include <QRandomGenerator>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Names a signal handler may remove: one a file of the program holds open at a time
// (the script's lines, the script's replacement), with room to spare.
constexpr int kHeldNames = 8;
// Attempts at a random hidden name before giving up.
constexpr int kNameAttempts = 16;

struct HeldName
{
    std::atomic<bool> used { false };
    char path[PATH_MAX] {};
};
std::array<HeldName, kHeldNames> heldNames;

int holdForSignals(const QByteArray &path)
{
    if (path.size() >= PATH_MAX)
        return -1;
    for (int slot = 0; slot < kHeldNames; ++slot) {
        HeldName &held = heldNames[size_t(slot)];
        if (held.used.load())
            continue;
        std::memcpy(held.path, path.constData(), size_t(path.size()) + 1);
        held.used.store(true); // the handler reads the path only once this is seen
        return slot;
    }
    return -1;
}

void release(int slot)
{
    if (slot < 0)
        return;
    heldNames[size_t(slot)].used.store(false);
}

extern "C" void removeHeldNamesAndEnd(int signalNumber)
{
    for (HeldName &held : heldNames) {
        if (held.used.load())
            ::unlink(held.path);
    }
    ::raise(signalNumber); // the handler was reset: the signal now ends the program
}

// Removes the hidden files of `prefix` in the directory that no open file holds: left
// by a run that was killed. Only the owner's own.
void removeStale(const QByteArray &directory, const QByteArray &prefix)
{
    DIR *listing = ::opendir(directory.constData());
    if (!listing)
        return;
    const int at = ::dirfd(listing);
    const time_t now = ::time(nullptr);
    while (const dirent *entry = ::readdir(listing)) {
        if (std::strncmp(entry->d_name, prefix.constData(), size_t(prefix.size())) != 0)
            continue;
        const int file = ::openat(at, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (file < 0)
            continue;
        struct stat status {};
        if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid()
            && now - status.st_ctime >= HiddenFile::kYoungestStaleSeconds && ::flock(file, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(at, entry->d_name, 0);
        ::close(file);
    }
    ::closedir(listing);
}

QString randomName(const QString &directory, const QString &prefix)
{
    return directory + QLatin1Char('/') + prefix + QString::number(QRandomGenerator::global()->generate64(), 36);
}

} // namespace

HiddenFile::HiddenFile(const QString &directory, const QString &prefix, mode_t mode, Start start)
    : m_directory(directory.endsWith(QLatin1Char('/')) && directory.size() > 1 ? directory.chopped(1) : directory)
    , m_prefix(prefix)
{
    removeStale(QFile::encodeName(m_directory), QFile::encodeName(m_prefix));
    if (start == Start::Unnamed)
        m_descriptor = ::open(QFile::encodeName(m_directory).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (m_descriptor >= 0) {
        ::flock(m_descriptor, LOCK_EX); // before it has a name that a clean-up could see
        return;
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QString name = randomName(m_directory, m_prefix);
        m_descriptor = ::open(QFile::encodeName(name).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (m_descriptor >= 0) {
            ::flock(m_descriptor, LOCK_EX);
            holdName(name);
            return;
        }
        if (errno != EEXIST)
            return;
    }
}

HiddenFile::~HiddenFile()
{
    removeName();
    if (m_descriptor >= 0)
        ::close(m_descriptor); // and its lock
}

void HiddenFile::holdName(const QString &path)
{
    m_path = path;
    m_slot = holdForSignals(QFile::encodeName(path));
}

int HiddenFile::giveName()
{
    if (!m_path.isEmpty())
        return 0;
    // The unnamed file through its descriptor's entry in /proc, which linkat follows.
    const QByteArray self = QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(m_descriptor);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QString name = randomName(m_directory, m_prefix);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, QFile::encodeName(name).constData(), AT_SYMLINK_FOLLOW) == 0) {
            holdName(name);
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

void HiddenFile::renamed(const QString &path)
{
    release(std::exchange(m_slot, -1));
    m_path = path;
    m_kept = true;
}

void HiddenFile::removeName()
{
    if (m_kept || m_path.isEmpty())
        return;
    ::unlink(QFile::encodeName(m_path).constData());
    release(std::exchange(m_slot, -1));
    m_path.clear();
}

void RemoveHiddenFilesOnSignals()
{
    struct sigaction action {};
    action.sa_handler = removeHeldNamesAndEnd;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (const int signalNumber : { SIGINT, SIGTERM, SIGHUP })
        ::sigaction(signalNumber, &action, nullptr);
}
