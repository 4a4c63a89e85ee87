// Command-line parsing. Options may come before or after the file, and take
// their value as the next argument or after '=' (--track=1).
#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "ToolError.h"

namespace {

const char kExitCodes[] =
    "Exit codes:\n"
    "  0  success\n"
    "  1  other failure (the output cannot be written, out of memory)\n"
    "  2  usage error\n"
    "  3  the file is missing or cannot be read\n"
    "  4  the library cannot load the file (no Matroska Segment in it)\n"
    "  5  no track with that index\n"
    "  6  the command does not handle the track's type (a subtitle track, say)\n"
    "  7  the library failed while delivering samples or seeking\n";

const char kToolHelp[] =
    "Usage: mkvdemux COMMAND FILE [OPTIONS]\n"
    "\n"
    "Reads a Matroska file through libMKV exactly as a media player's host does.\n"
    "\n"
    "Commands:\n"
    "  info FILE                         the track table\n"
    "  packets FILE                      every sample of the audio and video tracks\n"
    "  extract FILE --track N -o OUT     a track's elementary stream\n"
    "  seek FILE --track N --time SECONDS\n"
    "                                    seek, then list the samples that follow\n"
    "\n"
    "Run 'mkvdemux COMMAND --help' for the options of a command.\n"
    "\n"
    "Options of every command:\n"
    "  --verbose    show the library's own messages (on stderr)\n"
    "  -h, --help   show help\n"
    "  --version    show the version\n"
    "\n";

const char kInfoHelp[] =
    "Usage: mkvdemux info FILE [--json] [--verbose]\n"
    "\n"
    "Lists the tracks: index, type, codec (four-character code or WAVE format tag\n"
    "with its name), picture size and frame rate or sample rate, channels and bits,\n"
    "duration, largest sample size, codec private and configuration sizes, seekable.\n"
    "\n"
    "  --json       one JSON object, every field of the format record\n"
    "  --verbose    show the library's own messages (on stderr)\n"
    "\n";

const char kPacketsHelp[] =
    "Usage: mkvdemux packets FILE [--track N] [--md5] [--json] [--verbose]\n"
    "\n"
    "One line per sample, track by track: track, start and end time (seconds and\n"
    "100-ns units), size, sync flag and kind. The first sample of an H.264 track is\n"
    "its parameter sets (kind 'config'); every other sample is a frame.\n"
    "Subtitle tracks are left out.\n"
    "\n"
    "  --track N      only track N (a video or audio track)\n"
    "  --md5          add the MD5 of each sample's bytes\n"
    "  --json         one JSON object with a 'packets' array, a sample per line\n"
    "  --no-progress  no progress bar (shown on a terminal for large files)\n"
    "  --verbose      show the library's own messages (on stderr)\n"
    "\n";

const char kExtractHelp[] =
    "Usage: mkvdemux extract FILE --track N -o OUT [--verbose]\n"
    "\n"
    "Writes a track's elementary stream to OUT ('-' for standard output):\n"
    "  H.264                    Annex B byte stream, parameter sets first\n"
    "  AAC                      ADTS, a header before each frame\n"
    "  MP3, MPEG audio, AC-3, DTS   the frames back to back\n"
    "  anything else            the frames back to back, with a warning\n"
    "\n"
    "  --track N, -t N          the track to extract (video or audio)\n"
    "  --output OUT, -o OUT     the file to write\n"
    "  --no-progress            no progress bar (shown on a terminal for large files)\n"
    "  --verbose                show the library's own messages (on stderr)\n"
    "\n";

const char kSeekHelp[] =
    "Usage: mkvdemux seek FILE --track N --time SECONDS [--count K] [--md5] [--verbose]\n"
    "\n"
    "Seeks track N to SECONDS, prints the library's result code and the time it\n"
    "reports, then lists the next K samples of the track like 'packets'. A fresh\n"
    "handle hands out an H.264 track's parameter sets first; that sample is listed\n"
    "on top of the K.\n"
    "\n"
    "  --track N, -t N      the track to seek (video or audio)\n"
    "  --time SECONDS       where to seek, e.g. 1.5 (negative and 0 seek to the start)\n"
    "  --count K, -n K      samples to list after the seek (default 5)\n"
    "  --md5                add the MD5 of each sample's bytes\n"
    "  --verbose            show the library's own messages (on stderr)\n"
    "\n";

struct CommandOptions {
    const char* command;
    const char* help;
    std::vector<std::string> accepted; // long option names
};

const std::vector<CommandOptions>& Commands()
{
    static const std::vector<CommandOptions> kCommands = {
        {"info", kInfoHelp, {"json", "verbose"}},
        {"packets", kPacketsHelp, {"track", "md5", "json", "no-progress", "verbose"}},
        {"extract", kExtractHelp, {"track", "output", "no-progress", "verbose"}},
        {"seek", kSeekHelp, {"track", "time", "count", "md5", "verbose"}},
    };
    return kCommands;
}

const CommandOptions* FindCommand(const std::string& name)
{
    for (const CommandOptions& command : Commands()) {
        if (name == command.command) {
            return &command;
        }
    }
    return nullptr;
}

[[noreturn]] void UsageError(const std::string& message, const std::string& command)
{
    std::string hint = command.empty() ? "mkvdemux --help" : "mkvdemux " + command + " --help";
    throw ToolError(kExitUsage, message + " (see '" + hint + "')");
}

int32_t ParseCount(const std::string& option, const std::string& text, const std::string& command)
{
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < 0 || value > INT32_MAX || text[0] == '+' ||
        text[0] == ' ') {
        UsageError("--" + option + " needs a whole number from 0, not '" + text + "'", command);
    }
    return static_cast<int32_t>(value);
}

int64_t ParseSeconds(const std::string& text, const std::string& command)
{
    char* end = nullptr;
    errno = 0;
    double seconds = std::strtod(text.c_str(), &end);
    // 100-ns units in a signed 64-bit count reach about 29000 years.
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(seconds) || std::fabs(seconds) > 9.0e11) {
        UsageError("--time needs a time in seconds, such as 1.5, not '" + text + "'", command);
    }
    return std::llround(seconds * 1e7);
}

// The long name of an option as typed ("-o" -> "output").
std::string LongName(const std::string& arg)
{
    if (arg == "-o") return "output";
    if (arg == "-t") return "track";
    if (arg == "-n") return "count";
    return arg.substr(2);
}

bool TakesValue(const std::string& name)
{
    return name == "track" || name == "output" || name == "time" || name == "count";
}

} // namespace

Options ParseOptions(int argc, char** argv)
{
    Options options;
    std::vector<std::string> args(argv + 1, argv + argc);
    // --help anywhere answers with help rather than complaints.
    for (const std::string& arg : args) {
        if (arg == "--") {
            break;
        }
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        }
    }
    if (args.empty()) {
        UsageError("no command given", "");
    }
    size_t next = 0;
    if (args[0] == "--version") {
        options.version = true;
        return options;
    }
    if (args[0] == "-h" || args[0] == "--help") {
        return options;
    }
    const CommandOptions* command = FindCommand(args[0]);
    if (command == nullptr) {
        if (options.help) {
            return options;
        }
        UsageError(args[0][0] == '-' ? "unknown option '" + args[0] + "' before the command"
                                     : "unknown command '" + args[0] + "'",
                   "");
    }
    options.command = args[0];
    if (options.help) {
        return options;
    }
    next = 1;

    bool filesOnly = false;
    bool hasFile = false;
    const std::string& name = options.command;
    for (; next < args.size(); ++next) {
        const std::string& arg = args[next];
        bool isOption = !filesOnly && arg.size() > 1 && arg[0] == '-';
        if (!isOption) {
            if (hasFile) {
                UsageError("more than one file given ('" + options.file + "' and '" + arg + "')", name);
            }
            options.file = arg;
            hasFile = true;
            continue;
        }
        if (arg == "--") {
            filesOnly = true;
            continue;
        }
        std::string option = arg;
        std::string value;
        bool hasInlineValue = false;
        size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            option = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasInlineValue = true;
        }
        if (option.compare(0, 2, "--") != 0 && option != "-o" && option != "-t" && option != "-n") {
            UsageError("unknown option '" + arg + "'", name);
        }
        std::string longName = LongName(option);
        bool accepted = false;
        for (const std::string& known : command->accepted) {
            accepted = accepted || known == longName;
        }
        if (!accepted) {
            UsageError("'" + option + "' is not an option of " + name, name);
        }
        if (TakesValue(longName)) {
            if (!hasInlineValue) {
                if (next + 1 >= args.size()) {
                    UsageError(option + " needs a value", name);
                }
                value = args[++next];
            }
        } else if (hasInlineValue) {
            UsageError(option + " takes no value", name);
        }

        if (longName == "track") {
            options.track = ParseCount("track", value, name);
            options.hasTrack = true;
        } else if (longName == "output") {
            if (value.empty()) {
                UsageError("--output needs a file name", name);
            }
            options.output = value;
        } else if (longName == "time") {
            options.time = ParseSeconds(value, name);
            options.hasTime = true;
        } else if (longName == "count") {
            options.count = ParseCount("count", value, name);
        } else if (longName == "json") {
            options.json = true;
        } else if (longName == "md5") {
            options.md5 = true;
        } else if (longName == "verbose") {
            options.verbose = true;
        } else if (longName == "no-progress") {
            options.noProgress = true;
        }
    }

    if (!hasFile) {
        UsageError("no FILE given", name);
    }
    if ((name == "extract" || name == "seek") && !options.hasTrack) {
        UsageError(name + " needs --track N", name);
    }
    if (name == "extract" && options.output.empty()) {
        UsageError("extract needs -o OUT", name);
    }
    if (name == "seek" && !options.hasTime) {
        UsageError("seek needs --time SECONDS", name);
    }
    return options;
}

std::string HelpText(const std::string& command)
{
    const CommandOptions* found = FindCommand(command);
    return std::string(found != nullptr ? found->help : kToolHelp) + kExitCodes;
}
