#pragma once

#include "runtime/core/hiddenfile.h"

#include <QString>
#include <functional>
#include <memory>
#include <sys/stat.h>

// Writes all of the bytes to the descriptor, retrying short and interrupted
// writes: 0, or the system's error of the write that failed.
int WriteWhole(int descriptor, const char *bytes, qsizetype size);

// New contents for a file, written so that replacing it changes nothing else about
// it: its owner, group, mode and other hard links stay as they were.
//
// Where the directory takes a new file, the old file (if any) is a regular file with
// no other hard link, and the new file can be given the old one's owner, group and
// mode, the contents go to a new file beside it that takes the old one's place in
// commit(): a failure before then leaves the old file as it was and no new file.
// Everywhere else the old file is truncated and written in place (a shared directory
// the writer may not create files in, a file of another owner that the writer may
// not give away, a hard-linked file): a failure then leaves it partial.
//
// A symbolic link at the path is followed: the file it names is the one written.
// Failures raise EInOutError naming the path and the system's reason.
class TFileReplacement
{
public:
    explicit TFileReplacement(const QString &path);
    ~TFileReplacement(); // an uncommitted new file is removed
    TFileReplacement(const TFileReplacement &) = delete;
    TFileReplacement &operator=(const TFileReplacement &) = delete;

    // Writes all of the bytes, retrying short writes.
    void write(const char *bytes, qsizetype size);
    // Closes the file and, unless written in place, puts it in place of the old one.
    void commit();

    bool inPlace() const { return !m_beside; }

    // Puts a file already written in `directory` (open as `descriptor`) in place of the
    // one at `path`, once its contents are on disk, where a replacement could be made
    // beside it: `giveName` gives the file the name renamed over the old one. Returns
    // the name the file now has; empty, changing nothing, where it could not be put in
    // place (the caller then writes the contents through a TFileReplacement);
    // EInOutError where the sync, the name or the rename fails.
    static QString replaceWith(const QString &path, const QString &directory, int descriptor,
                               const std::function<QString()> &giveName);

    // Raises the EInOutError that writing `path` would end with where it could be
    // neither replaced (the directory takes no new file) nor written in place (no
    // file there that may be written), so that it is known before the contents are made.
    static void checkWritable(const QString &path);

private:
    // The file that `path` names: a symbolic link followed.
    static QString targetOf(const QString &path);
    // False where the old file must be written in place: not a regular file, or
    // hard-linked elsewhere.
    static bool replaceable(const struct stat &old);
    // The old file's owner, group and mode given to the new one; false where they cannot be.
    static bool takeAttributes(int descriptor, const struct stat &old);

    bool openBeside();
    void openInPlace();
    void discard();
    [[noreturn]] void fail(int systemError);

    QString m_path;      // as given, for the messages
    QString m_target;    // the file replaced, a symbolic link followed
    std::unique_ptr<HiddenFile> m_beside; // the new file beside it; none when written in place
    int m_descriptor = -1;                // the file written: m_beside's, or the target's
};
