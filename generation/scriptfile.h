#pragma once

#include <clientdataset.h>

#include <functional>

// The translation script's file name: "TRD_" + year + month + day + ".sql" of the
// moment's date, each number without leading zeros (6 December 2026: TRD_2026126.sql).
AnsiString ScriptFileName(TDateTime moment);

// Every record's value of the field, first to last, each followed by CR LF,
// single-byte text as held, handed to `write` in pieces of up to 1 MiB.
void WriteScriptLines(TClientDataSet &lines, const TField &line, const std::function<void(const char *, qsizetype)> &write);

// Writes the lines, as WriteScriptLines gives them, to the file through
// TFileReplacement: the file keeps its owner, group, mode and hard links. Replaced whole where it can be (a failure leaves an
// earlier file as it was and no partial file), else written in place (a failure
// leaves it partial). Failures raise EInOutError with the system's text.
void WriteScriptFile(const AnsiString &path, TClientDataSet &lines, const TField &line);
