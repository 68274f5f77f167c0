#pragma once

#include <QString>

// The files the server creates (a SQLite database, its journals, the call log) are
// readable and writable by the server's user only, whatever umask it was started with.

// Adds "no access for group and others" to the process's umask: new files 0600.
void makeNewFilesPrivate();
// For an existing file that its group or other users may read or write, a warning
// naming its mode and the command that closes it; empty otherwise.
QString sharedFileWarning(const QString &fileName);
