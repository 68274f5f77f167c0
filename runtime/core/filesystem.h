#pragma once

#include "runtime/core/ansistring.h"

// The platform's directory separator, appended to a directory and joined before
// a file name.
constexpr char PathDelim = '/';

QLX_EXPORT bool DirectoryExists(const AnsiString &path);
// Creates one directory level; false when it cannot (a missing parent included).
QLX_EXPORT bool CreateDir(const AnsiString &path);
// True for an existing file; a directory of that name does not count.
QLX_EXPORT bool FileExists(const AnsiString &path);
// The operating system's name of a single-byte path.
QLX_EXPORT QString NativePath(const AnsiString &path);
