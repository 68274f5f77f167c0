#pragma once

#include "generatorarguments.h"

#include <functional>

// One generation without a display, through the screen's own layers: the
// connection, the remote methods, the record sets, the table list, the script
// file's name and its safe replace.
struct GenerationResult
{
    enum Outcome { Written, NothingToWrite, ExistingFileKept } outcome = NothingToWrite;
    QString path;
    qsizetype lines = 0;
};

// Failures leave as the runtime's exceptions: EBadArguments for a language the
// server does not know, EInOutError for the file, any other for the server.
GenerationResult GenerateScript(const GeneratorArguments &arguments, const std::function<void(const QString &)> &progress);
