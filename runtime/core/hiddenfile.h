#pragma once

#include "runtime/core/export.h"

#include <QString>
#include <sys/types.h>

// A file being made in a directory that nobody should see half-made, nor find left
// behind by a run that was interrupted. Where the file system allows it, the file has
// no name until it is given one (O_TMPFILE), so that nothing, not even a kill, can
// leave it behind. Elsewhere it has a hidden name (prefix and a random ending), locked
// while the file is open; that name goes when the file is closed, when SIGINT, SIGTERM
// or SIGHUP ends a program that called RemoveHiddenFilesOnSignals(), and otherwise
// (a SIGKILL, a crash) at the next HiddenFile made with that prefix in that directory,
// which removes every unlocked one of its owner's.
class QLX_EXPORT HiddenFile
{
public:
    // A hidden name younger than this is left to its maker, which may be between
    // creating and locking it.
    static constexpr long kYoungestStaleSeconds = 2;

    // How the file starts: with no name where the file system allows it, or with its
    // hidden name at once (as where it does not).
    enum class Start { Unnamed, Named };
    // A new empty file, open for reading and writing, with `mode` less the umask;
    // descriptor() is -1, with errno set, where none could be made.
    HiddenFile(const QString &directory, const QString &prefix, mode_t mode, Start start = Start::Unnamed);
    ~HiddenFile();
    HiddenFile(const HiddenFile &) = delete;
    HiddenFile &operator=(const HiddenFile &) = delete;

    int descriptor() const { return m_descriptor; }
    // Its hidden name; empty while it has none.
    const QString &path() const { return m_path; }
    // Gives it a hidden name (to rename it over another file): 0, or the system's error.
    int giveName();
    // Its name was renamed to `path`: that file stays when this one closes.
    void renamed(const QString &path);
    bool kept() const { return m_kept; }
    // Removes its name now; the file stays readable through the descriptor.
    void removeName();

private:
    void holdName(const QString &path);

    QString m_directory;
    QString m_prefix;
    QString m_path;
    int m_descriptor = -1;
    int m_slot = -1; // where the name waits for a signal's clean-up
    bool m_kept = false;
};

// On SIGINT, SIGTERM and SIGHUP, removes the hidden names of the files still open,
// then ends the program as the signal would have.
QLX_EXPORT void RemoveHiddenFilesOnSignals();
