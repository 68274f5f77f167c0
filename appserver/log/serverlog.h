#pragma once

#include <QString>

// The server's log is its standard error (the journal under systemd).
// Writes one line in one piece, whatever other sessions' threads write; a line
// break inside `line` is written as " | ", so that one entry stays one line.
void logLine(QString line);
