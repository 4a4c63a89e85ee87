// Command-line parsing. Options may come before or after the file, and take
// their value as the next argument or after '=' (--track=1).
#include "Options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "ToolError.h"

namespace {

// What each exit code means; a command's help lists the codes it can return.
const char* const kExitMeanings[] = {
    "success",
    "other failure (the output cannot be written, out of memory)",
    "usage error",
    "the file is missing or cannot be read",
    "the library cannot load the file (no Matroska Segment) or finds no track in it",
    "no track with that index",
    "the command does not handle the track's type (a subtitle track, say)",
    "the library failed while delivering samples or seeking",
};

const char kToolHelp[] =
    "Usage: mkvdemux COMMAND FILE [OPTIONS]\n"
    "\n"
    "Reads a Matroska file through libMKV exactly as a media player's host does.\n"
    "\n"
    "Commands:\n"
    "  info FILE                         the track table\n"
    "  packets FILE                      every sample of the audio and video tracks\n"
    "  extract FILE --track N -o OUT     a track's elementary stream\n"
    "  seek FILE --track N --time TIME   seek, then list the samples that follow\n"
    "  help [COMMAND]                    the help of a command, or this one\n"
    "\n"
    "Run 'mkvdemux help COMMAND' or 'mkvdemux COMMAND --help' for the options of a\n"
    "command. JSON output is valid UTF-8 whatever the file name: each byte of the\n"
    "name that is not part of valid UTF-8 comes out as U+FFFD.\n"
    "\n"
    "Options of every command:\n"
    "  -h, --help   show help\n"
    "  --version    show the version\n"
    "\n";

const char kInfoHelp[] =
    "Usage: mkvdemux info FILE [--json] [--verbose]\n"
    "\n"
    "Lists the tracks: index, type, codec (four-character code or WAVE format tag\n"
    "with its name), picture size and frame rate or sample rate, channels and bits,\n"
    "duration, largest sample size, codec private and configuration sizes, and the\n"
    "library's seekable flag, which says that the file has a SeekHead (an index of\n"
    "its top-level elements). A file in which the library finds no track is an\n"
    "error (exit code 4).\n"
    "\n"
    "  --json       one JSON object, every field of the format record\n"
    "  --verbose    show the library's own messages (on stderr)\n"
    "  -h, --help   show this help\n"
    "  --version    show the version\n"
    "\n";

const char kPacketsHelp[] =
    "Usage: mkvdemux packets FILE [--track N] [--md5] [--json] [--verbose]\n"
    "\n"
    "One line per sample, track by track: track, start and end time (seconds and\n"
    "100-ns units), size, sync flag and kind. The first sample of an H.264 or HEVC\n"
    "track is its parameter sets (kind 'config'); every other sample is a frame.\n"
    "Subtitle tracks are left out.\n"
    "\n"
    "  --track N, -t N  only track N (a video or audio track)\n"
    "  --md5            add the MD5 of each sample's bytes\n"
    "  --json           one JSON object with a 'packets' array, a sample per line\n"
    "  --no-progress    no progress bar (shown on a terminal for large files)\n"
    "  --verbose        show the library's own messages (on stderr)\n"
    "  -h, --help       show this help\n"
    "  --version        show the version\n"
    "\n";

const char kExtractHelp[] =
    "Usage: mkvdemux extract FILE --track N -o OUT [--verbose]\n"
    "\n"
    "Writes a track's elementary stream to OUT ('-' for standard output):\n"
    "  H.264, HEVC                  Annex B byte stream, parameter sets first\n"
    "  AAC                          ADTS, a header before each frame\n"
    "  MPEG-4 Visual                its decoder configuration (the VOL header), then\n"
    "                               the frames\n"
    "  VP8, VP9, AV1                IVF\n"
    "  Opus, Vorbis                 Ogg\n"
    "  FLAC                         native FLAC stream\n"
    "  PCM                          WAV (sizes 0xFFFFFFFF when OUT is '-')\n"
    "  MPEG-1 and MPEG-2 video, Motion JPEG, MP3, MPEG audio, AC-3, E-AC-3, DTS\n"
    "                               the frames back to back\n"
    "  anything else                the frames back to back, with a warning: Theora,\n"
    "                               RealVideo, RealAudio, MS MPEG-4, Windows Media,\n"
    "                               Snow and unknown codecs need a container before\n"
    "                               a player opens them\n"
    "\n"
    "  --track N, -t N              the track to extract (video or audio)\n"
    "  --output OUT, -o OUT         the file to write\n"
    "  --no-progress                no progress bar (shown on a terminal for large files)\n"
    "  --verbose                    show the library's own messages (on stderr)\n"
    "  -h, --help                   show this help\n"
    "  --version                    show the version\n"
    "\n";

const char kSeekHelp[] =
    "Usage: mkvdemux seek FILE --track N --time TIME [--count K] [--md5] [--verbose]\n"
    "\n"
    "Seeks track N to TIME, prints the library's result code and the time it\n"
    "reports, then lists the next K samples of the track like 'packets'. A fresh\n"
    "handle hands out an H.264 or HEVC track's parameter sets first; that sample is\n"
    "listed on top of the K.\n"
    "\n"
    "  --track N, -t N      the track to seek (video or audio)\n"
    "  --time TIME          where to seek: seconds (1.5), mm:ss(.fff) or\n"
    "                       hh:mm:ss(.fff), e.g. 1:02.5 or 0:01:02.5; a negative\n"
    "                       number of seconds, or 0, seeks to the start\n"
    "  --count K, -n K      samples to list after the seek (default 5)\n"
    "  --md5                add the MD5 of each sample's bytes\n"
    "  --verbose            show the library's own messages (on stderr)\n"
    "  -h, --help           show this help\n"
    "  --version            show the version\n"
    "\n";

const char kHelpHelp[] =
    "Usage: mkvdemux help [COMMAND]\n"
    "\n"
    "Shows the help of COMMAND (info, packets, extract, seek or help), or of the\n"
    "tool.\n"
    "\n";

struct CommandOptions {
    const char* command;
    const char* help;
    std::vector<std::string> accepted; // long option names
    std::vector<int> exitCodes;        // the codes the command can return
};

const std::vector<CommandOptions>& Commands()
{
    // Reading a file can fail in every way up to "no track"; the track a
    // command is given can be missing, of the wrong type or fail to deliver.
    static const std::vector<int> kLoadCodes = {kExitOk, kExitFailure, kExitUsage, kExitFileUnreadable,
                                                kExitNotLoadable};
    static const std::vector<int> kTrackCodes = {kExitOk,           kExitFailure,    kExitUsage,
                                                 kExitFileUnreadable, kExitNotLoadable, kExitNoSuchTrack,
                                                 kExitUnsupportedTrack, kExitLibraryError};
    static const std::vector<CommandOptions> kCommands = {
        {"info", kInfoHelp, {"json", "verbose"}, kLoadCodes},
        {"packets", kPacketsHelp, {"track", "md5", "json", "no-progress", "verbose"}, kTrackCodes},
        {"extract", kExtractHelp, {"track", "output", "no-progress", "verbose"}, kTrackCodes},
        {"seek", kSeekHelp, {"track", "time", "count", "md5", "verbose"}, kTrackCodes},
        {"help", kHelpHelp, {}, {kExitOk, kExitUsage}},
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

bool AllDigits(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// 100-ns units in a signed 64-bit count reach about 29000 years.
constexpr double kLargestSeconds = 9.0e11;

// Seconds as a decimal number: 1.5, -2, .5; no sign but '-', no exponent.
bool ParsePlainSeconds(const std::string& text, int64_t& time)
{
    std::string unsignedPart = text.substr(text.compare(0, 1, "-") == 0 ? 1 : 0);
    size_t point = unsignedPart.find('.');
    std::string whole = unsignedPart.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : unsignedPart.substr(point + 1);
    if ((!whole.empty() && !AllDigits(whole)) || (!fraction.empty() && !AllDigits(fraction)) ||
        (whole.empty() && fraction.empty())) {
        return false;
    }
    double seconds = std::strtod(text.c_str(), nullptr);
    if (!(std::fabs(seconds) <= kLargestSeconds)) {
        return false;
    }
    time = std::llround(seconds * 1e7);
    return true;
}

// mm:ss(.fff) or hh:mm:ss(.fff): the first field any number of digits, each
// later one two digits below 60, a fraction after the last.
bool ParseClockTime(const std::string& text, int64_t& time)
{
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
        size_t colon = text.find(':', start);
        fields.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    if (fields.size() > 3) {
        return false;
    }
    std::string& last = fields.back();
    size_t point = last.find('.');
    std::string fraction = point == std::string::npos ? "" : last.substr(point + 1);
    if (point != std::string::npos && !AllDigits(fraction)) {
        return false;
    }
    last = last.substr(0, point);
    // Twelve digits of hours cannot overflow; the bound below rejects them.
    if (!AllDigits(fields[0]) || fields[0].size() > 12) {
        return false;
    }
    uint64_t seconds = std::stoull(fields[0]);
    for (size_t i = 1; i < fields.size(); ++i) {
        if (fields[i].size() != 2 || !AllDigits(fields[i]) || std::stoul(fields[i]) >= 60) {
            return false;
        }
        seconds = seconds * 60 + std::stoul(fields[i]);
    }
    if (static_cast<double>(seconds) > kLargestSeconds) {
        return false;
    }
    int64_t fractionUnits = fraction.empty() ? 0 : std::llround(std::strtod(("0." + fraction).c_str(), nullptr) * 1e7);
    time = static_cast<int64_t>(seconds) * 10000000 + fractionUnits;
    return true;
}

int64_t ParseTime(const std::string& text, const std::string& command)
{
    int64_t time = 0;
    bool clock = text.find(':') != std::string::npos;
    if (!(clock ? ParseClockTime(text, time) : ParsePlainSeconds(text, time))) {
        UsageError("--time needs seconds (1.5), mm:ss(.fff) or hh:mm:ss(.fff), not '" + text + "'", command);
    }
    return time;
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
    // --help or --version anywhere answers rather than complains.
    for (const std::string& arg : args) {
        if (arg == "--") {
            break;
        }
        options.help = options.help || arg == "-h" || arg == "--help";
        options.version = options.version || arg == "--version";
    }
    if (args.empty()) {
        UsageError("no command given", "");
    }
    const CommandOptions* command = FindCommand(args[0]);
    if (options.help || options.version) {
        options.command = command != nullptr ? args[0] : "";
        return options;
    }
    if (command == nullptr) {
        UsageError(args[0][0] == '-' ? "unknown option '" + args[0] + "' before the command"
                                     : "unknown command '" + args[0] + "'",
                   "");
    }
    options.command = args[0];
    if (options.command == "help") {
        if (args.size() > 2) {
            UsageError("help takes one command at most", "help");
        }
        if (args.size() == 2) {
            if (FindCommand(args[1]) == nullptr) {
                UsageError("no command '" + args[1] + "' to show the help of", "help");
            }
            options.topic = args[1];
        }
        return options;
    }
    size_t next = 1;

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
            options.time = ParseTime(value, name);
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
    std::string text = found != nullptr ? found->help : kToolHelp;
    text += "Exit codes:\n";
    for (int code = 0; code < static_cast<int>(std::size(kExitMeanings)); ++code) {
        if (found == nullptr ||
            std::find(found->exitCodes.begin(), found->exitCodes.end(), code) != found->exitCodes.end()) {
            text += "  " + std::to_string(code) + "  " + kExitMeanings[code] + "\n";
        }
    }
    return text;
}
