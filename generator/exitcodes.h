#pragma once

// The generator's exit codes, for the scripts that run it.
enum ExitCode : int {
    kWritten = 0,          // the script was written (with --dry-run: it would be)
    kNothingToWrite = 1,   // no translation changed since the moment: no file
    kBadArguments = 2,     // the command line or a setting, or a language or table the server does not have
    kServerFailure = 3,    // no connection, not this protocol, a failure the server reported, a malformed answer, no answer in time
    kFileFailure = 4,      // the file or standard output could not be written: an earlier file is kept, but
                           // where only the written file's name could not go to standard output (said so)
    kExistingFileKept = 5, // a file of that name exists and --overwrite was not given
};
