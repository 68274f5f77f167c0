#pragma once

#include <QByteArrayView>

// Standard output as the generator writes it: a write that does not go through
// whole (output closed, a full disk, a reader gone) raises EInOutError, never a
// silent loss. Call GuardStandardOutput() first, before any file is opened.
void GuardStandardOutput();
void WriteStandardOutput(QByteArrayView bytes);
