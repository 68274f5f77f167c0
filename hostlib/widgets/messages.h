#pragma once

#include "runtime/core/ansistring.h"

#include <QByteArray>
#include <vector>

// A catalogue of keyed messages: each line "key|text", single-byte text.
class QLX_EXPORT TMessages
{
public:
    std::vector<AnsiString> Messages;

    // Replaces the lines with those of a Windows-1252 text, one entry a line.
    void LoadFromBytes(const QByteArray &lines);
    // The text stored for the key, matched exactly; the empty text for an unknown key.
    AnsiString Msg(const AnsiString &key) const;
};
