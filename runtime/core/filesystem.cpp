#include "runtime/core/filesystem.h"

#include <QDir>
#include <QFileInfo>

QString NativePath(const AnsiString &path)
{
    return Ansi::toUnicode(path);
}

bool DirectoryExists(const AnsiString &path)
{
    return QFileInfo(NativePath(path)).isDir();
}

bool CreateDir(const AnsiString &path)
{
    return QDir().mkdir(NativePath(path));
}

bool FileExists(const AnsiString &path)
{
    const QFileInfo info(NativePath(path));
    return info.exists() && !info.isDir();
}
