#pragma once

// The generator's exit codes, for the scripts that run it.
enum ExitCode : int {
    kWritten = 0,          // the script file was written
    kNothingToWrite = 1,   // no translation changed since the moment: no file
    kBadArguments = 2,     // the command line (or a language the server does not know)
    kServerFailure = 3,    // no connection, a failure the server reported, a malformed answer, no answer in time
    kFileFailure = 4,      // the file could not be written; an earlier file is kept
    kExistingFileKept = 5, // a file of that name exists and --overwrite was not given
};
