// The command line, scanned into one record.
#ifndef VELMORA_OPTIONS_H
#define VELMORA_OPTIONS_H

#include <cstddef>

// A path or short name: 260 characters and a terminating zero.
constexpr std::size_t kPathChars = 260;
using PathBuffer = char[kPathChars + 1];

struct CommandOptions {
    PathBuffer targetPath = {};     // value of the last /f:
    PathBuffer newShortName = {};   // value of the last /sfn:
    bool confirmChange = true;      // cleared by /y or -y
    bool reportExitCode = false;    // set by the hidden diagnostic switch
    // The last /f: or /sfn: value did not fit its buffer. It is kept out of
    // the buffer, and the run is refused: cutting it could name another
    // file, or set a name nobody asked for.
    bool targetPathTooLong = false;
    bool newShortNameTooLong = false;
};

// Fills `options` from argv[1] .. argv[argc - 1]. Returns true, and stops
// there, when a syntax request ("/?" or "-?") is met.
bool ScanOptions(int argc, char* argv[], CommandOptions& options);

#endif
