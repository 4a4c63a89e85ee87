// Exit codes of mkvdemux and the error that carries one up to main, which
// prints its one-line message on stderr.
#ifndef MKV_TOOLS_TOOLERROR_H
#define MKV_TOOLS_TOOLERROR_H

#include <stdexcept>
#include <string>

enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,          // anything else: output not writable, out of memory
    kExitUsage = 2,            // bad command line
    kExitFileUnreadable = 3,   // missing or unreadable file
    kExitNotLoadable = 4,      // the library cannot load the file (no Segment)
    kExitNoSuchTrack = 5,      // track index out of range
    kExitUnsupportedTrack = 6, // the command cannot handle the track's type
    kExitLibraryError = 7,     // the library failed while delivering samples
};

class ToolError : public std::runtime_error {
public:
    ToolError(ExitCode code, const std::string& message) : std::runtime_error(message), code(code) {}
    ExitCode code;
};

#endif
