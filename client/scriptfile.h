#pragma once

#include "runtime/core/clientdataset.h"

#include <functional>

// The translation script's file name: "TRD_" + year + month + day + ".sql" of the
// moment's date, each number without leading zeros (6 December 2026: TRD_2026126.sql).
AnsiString ScriptFileName(TDateTime moment);

// Before the lines are fetched: the line record set is to keep its texts as the
// script's own bytes, each followed by CR LF, in a file of the target directory
// (see TClientDataSet::KeepTextsInFile), so that writing the script can be
// putting that file in place. A failure on the way names `shownAs`: the script's
// file, or what the lines are for.
void KeepScriptLinesIn(TClientDataSet &lines, const TField &line, const AnsiString &directory, const QString &shownAs);
// The lines' file is given up: its name goes at once, so that nothing of it is
// left in the directory. Nothing happens once it has become the script.
void DropScriptLinesFile(TClientDataSet &lines, const TField &line);

// Every record's value of the field, first to last, each followed by CR LF,
// single-byte text as held, handed to `write` in pieces of up to 1 MiB.
void WriteScriptLines(TClientDataSet &lines, const TField &line, const std::function<void(const char *, qsizetype)> &write);

// Writes the lines, as WriteScriptLines gives them, to the file through
// TFileReplacement: the file keeps its owner, group, mode and hard links. Replaced whole where it can be (a failure leaves an
// earlier file as it was and no partial file), else written in place (a failure
// leaves it partial). Failures raise EInOutError with the system's text.
// Lines already held as the script in a file of the same directory are not
// written again: once on disk, that file takes the old one's place, under the
// same conditions as a replacement.
void WriteScriptFile(const AnsiString &path, TClientDataSet &lines, const TField &line);
