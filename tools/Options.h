// The command line of mkvdemux: a command, a file and options, with the
// help text of the tool and of each command.
#ifndef MKV_TOOLS_OPTIONS_H
#define MKV_TOOLS_OPTIONS_H

#include <cstdint>
#include <string>

struct Options {
    std::string command; // info, packets, extract, seek or help; empty for the tool's own help
    std::string file;
    std::string topic; // help: the command whose help is wanted, empty for the tool's
    bool help = false;
    bool version = false;
    bool verbose = false;
    bool json = false;
    bool md5 = false;
    bool noProgress = false;
    bool hasTrack = false;
    int32_t track = 0;
    std::string output;
    bool hasTime = false;
    int64_t time = 0; // 100-ns units; see ParseTime
    int32_t count = 5;
    long long fileSize = 0; // filled in once the file is found readable
};

// Throws ToolError (usage) on anything it does not accept, naming the
// culprit. --help anywhere, then --version anywhere, wins over every
// mistake.
Options ParseOptions(int argc, char** argv);

// The tool's help for an empty command, else the command's, each with the
// exit codes it can return.
std::string HelpText(const std::string& command);

#endif
