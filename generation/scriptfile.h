#pragma once

#include <clientdataset.h>

// The translation script's file name: "TRD_" + year + month + day + ".sql" of the
// moment's date, each number without leading zeros (6 December 2026: TRD_2026126.sql).
AnsiString ScriptFileName(TDateTime moment);

// Writes every record's value of the field, first to last, each followed by CR LF,
// single-byte text as held. Where the directory takes a new file, the file is
// replaced only once every line and the close have succeeded: on any failure
// EInOutError carries the system's text, an earlier file stays as it was and no
// partial file is left. Where the directory takes no new file but the existing
// file may be written, it is written in place: a failure then leaves it partial.
void WriteScriptFile(const AnsiString &path, TClientDataSet &lines, const TField &line);
