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
    "other failure: the output cannot be written, out of memory",
    "usage error",
    "the file is missing or cannot be read",
    "the library cannot load the file (no Matroska Segment) or finds no track",
    "no track with that index",
    "the command does not handle the track's type (a subtitle track, say)",
    "the library failed while delivering samples or seeking",
};

// Every help is read on its own, so what all the commands that read a file
// share is added to each of them (HelpText).
const char kReadingNotes[] =
    "The library prints two lines of its own on standard output (its load time\n"
    "and the handle's destruction); they are kept out of the output, and\n"
    "--verbose shows them on stderr. A file that ends before its Segment does\n"
    "(cut short, or still being written) is read up to the cut, and one line on\n"
    "stderr says how many bytes are missing; a Segment of unknown size (live or\n"
    "piped output) is complete. Errors are one line on stderr.\n"
    "\n";

const char kToolHelp[] =
    "Usage: mkvdemux COMMAND FILE [OPTIONS]\n"
    "\n"
    "Reads a Matroska file through libMKV's public interface exactly as a media\n"
    "player's host does, serving the library's reads from a read-only memory\n"
    "mapping of the file (stdio with a 1 MB buffer where it cannot be mapped).\n"
    "\n"
    "Commands:\n"
    "  info FILE                         the track table\n"
    "  packets FILE                      every sample of the audio and video tracks\n"
    "  extract FILE --track N -o OUT     a track's elementary stream\n"
    "  seek FILE --track N --time TIME   seek, then list the samples that follow\n"
    "  help [COMMAND]                    the help of a command, or this one\n"
    "\n"
    "'mkvdemux help COMMAND' or 'mkvdemux COMMAND --help' tells what a command\n"
    "prints and takes. Options may come before or after FILE, and take their\n"
    "value as the next argument or after '=' (--track=1).\n"
    "\n"
    "Options of every command:\n"
    "  -h, --help   show help\n"
    "  --version    show the version\n"
    "\n";

const char kInfoHelp[] =
    "Usage: mkvdemux info FILE [--json] [--verbose]\n"
    "\n"
    "Prints 'FILE: N tracks, D s' (D: the longest audio or video track), then a\n"
    "line per track:\n"
    "  #           the track's index, as the other commands take it\n"
    "  type        video, audio, subtitle or other\n"
    "  codec       the format record's four-character code (video) or WAVE format\n"
    "              tag (audio), with its name; tag 0x2000 reads AC-3/E-AC-3, since\n"
    "              E-AC-3 tracks carry the AC-3 tag and nothing tells them apart\n"
    "  format      picture size (and the size shown, where it differs) and frame\n"
    "              rate, or sample rate, channels and bits per sample\n"
    "  duration s  the track's duration in seconds\n"
    "  max sample  the largest sample the library hands out, in bytes\n"
    "  private     size of the codec private data\n"
    "  config      size of the decoder configuration: H.264 and HEVC parameter\n"
    "              sets, the MPEG-4 Visual VOL header\n"
    "  seekable    the format record's flag, which the library sets when the file\n"
    "              has a SeekHead (an index of its top-level elements)\n"
    "Frame rates come from the format record (frames per 1000 s), audio values\n"
    "from its WAVEFORMATEX. A file in which the library finds no track (one cut\n"
    "short before its track list, say) is an error.\n"
    "\n"
    "  --json       one object {\"file\":...,\"tracks\":[...]}, a track per line with\n"
    "               every field of the format record and its video or audio\n"
    "               header, and the codec private data and configuration in hex.\n"
    "               It is valid UTF-8 whatever the file name: each byte of the name\n"
    "               that is not part of well-formed UTF-8 comes out as U+FFFD.\n"
    "  --verbose    show the library's own lines (on stderr)\n"
    "  -h, --help   show this help\n"
    "  --version    show the version\n"
    "\n";

const char kPacketsHelp[] =
    "Usage: mkvdemux packets FILE [--track N] [--md5] [--json] [--no-progress]\n"
    "                        [--verbose]\n"
    "\n"
    "Lists the samples of the audio and video tracks, track by track, a line\n"
    "each, in the order the library hands them out:\n"
    "  track        the track's index\n"
    "  start s      start time in seconds\n"
    "  start 100ns  start time in 100-ns units, as the library gives it\n"
    "  end s        end time in seconds\n"
    "  end 100ns    end time in 100-ns units\n"
    "  size         size in bytes\n"
    "  sync         1 for a sync sample (a key frame), else 0\n"
    "  kind         'config' for parameter sets, else 'frame'\n"
    "  md5          with --md5: the MD5 of the sample's bytes\n"
    "The first sample of an H.264 or HEVC track is its parameter sets (kind\n"
    "'config'), which a handle hands out once per track. H.264 frames come in\n"
    "decode order, so with B-frames the times go back and forth. All audio\n"
    "tracks of a handle share one read position, and all video tracks another,\n"
    "so the file is loaded once per track to list each track whole. Subtitle\n"
    "tracks have no samples and are left out.\n"
    "\n"
    "  --track N, -t N  only track N (a video or audio track)\n"
    "  --md5            add the MD5 of each sample's bytes\n"
    "  --json           one object {\"file\":...,\"packets\":[...]}, a sample per\n"
    "                   line: track, kind, start, start_100ns, end, end_100ns,\n"
    "                   size, sync (true or false) and, with --md5, md5\n"
    "  --no-progress    no progress bar; one is drawn on stderr for files from\n"
    "                   16 MB when stderr is a terminal and stdout is not\n"
    "  --verbose        show the library's own lines (on stderr)\n"
    "  -h, --help       show this help\n"
    "  --version        show the version\n"
    "\n";

const char kExtractHelp[] =
    "Usage: mkvdemux extract FILE --track N -o OUT [--no-progress] [--verbose]\n"
    "\n"
    "Writes track N's stream to OUT in a form a player opens on its own, then\n"
    "one line on stderr with the samples and bytes written and the form:\n"
    "  H.264, HEVC     Annex B byte stream: the parameter sets (the track's first\n"
    "                  sample), then the frames with start codes\n"
    "  AAC             ADTS: a 7-byte header before each frame, from the core\n"
    "                  layer of the AudioSpecificConfig (HE-AAC as its AAC-LC core\n"
    "                  at the core rate; decoders find the SBR data in the\n"
    "                  frames). A configuration ADTS cannot state (an object type\n"
    "                  other than Main, LC, SSR and LTP, channel configuration 0,\n"
    "                  960-sample frames, a rate outside the index table) is an\n"
    "                  error, exit code 6.\n"
    "  MPEG-4 Visual   its VOL header (the track's configuration), then the frames\n"
    "  VP8, VP9, AV1   IVF: a 32-byte header (four-character code, picture size,\n"
    "                  time base 1/1000), then each frame behind its size and its\n"
    "                  start in milliseconds; AV1 temporal units get back the\n"
    "                  temporal delimiter that Matroska leaves out\n"
    "  Opus, Vorbis    Ogg: the header packets (OpusHead from the codec private\n"
    "                  data and an OpusTags packet; Vorbis's three packets, split\n"
    "                  from the codec private data), then a page per frame whose\n"
    "                  granule position is the frame's end in samples (at 48 kHz\n"
    "                  for Opus). Samples carry no DiscardPadding: a last Opus\n"
    "                  frame trimmed by DiscardPadding alone plays whole.\n"
    "  FLAC            native FLAC: 'fLaC' and the metadata blocks from the codec\n"
    "                  private data, then the frames\n"
    "  PCM             WAV (format tags 1 and 3): a fmt chunk from the\n"
    "                  WAVEFORMATEX and a data chunk, their sizes filled in at\n"
    "                  the end, or 0xFFFFFFFF (up to the end) on standard output\n"
    "  MPEG-1 and MPEG-2 video, Motion JPEG, H.264 and HEVC from Video for\n"
    "  Windows, MP3, MPEG audio, AC-3, E-AC-3, DTS\n"
    "                  the frames back to back, which is the stream\n"
    "  anything else   the frames back to back too, with a warning: Theora,\n"
    "                  RealVideo, RealAudio, MS MPEG-4, Windows Media, Snow and\n"
    "                  unknown codecs play only inside a container\n"
    "Tracks stored with header removal come out whole: the library puts the\n"
    "removed bytes back in front of each frame. OUT is removed again when the\n"
    "extraction fails; it may not be FILE itself.\n"
    "\n"
    "  --track N, -t N       the track to extract (video or audio)\n"
    "  --output OUT, -o OUT  the file to write; '-' for standard output, which\n"
    "                        must not be a terminal\n"
    "  --no-progress         no progress bar; one is drawn on stderr for files\n"
    "                        from 16 MB when stderr is a terminal\n"
    "  --verbose             show the library's own lines (on stderr)\n"
    "  -h, --help            show this help\n"
    "  --version             show the version\n"
    "\n";

const char kSeekHelp[] =
    "Usage: mkvdemux seek FILE --track N --time TIME [--count K] [--md5]\n"
    "                     [--verbose]\n"
    "\n"
    "Seeks track N to TIME on a fresh handle and prints\n"
    "  seek track N to T s (T100): status CODE (NAME), time R s (R100)\n"
    "where T is TIME and R the time the library reports, in seconds and in\n"
    "100-ns units (T100, R100). Then come the next K samples of the track in\n"
    "the columns of 'packets' (track, start s, start 100ns, end s, end 100ns,\n"
    "size, sync, kind, and md5 with --md5), or '(end of track)' where the track\n"
    "ends first. A fresh handle hands out an H.264 or HEVC track's parameter\n"
    "sets first; that sample is listed on top of the K. A status other than ok\n"
    "is an error, exit code 7.\n"
    "\n"
    "TIME is one of\n"
    "  seconds          1.5, 90, .25; a negative time seeks to the start\n"
    "  mm:ss(.fff)      1:02.5\n"
    "  hh:mm:ss(.fff)   0:01:02.5\n"
    "After a colon each field is two digits below 60; anything else (1:60, a:b,\n"
    "an empty field, -1:30, 1e3, +1) is a usage error.\n"
    "\n"
    "  --track N, -t N   the track to seek (video or audio)\n"
    "  --time TIME       where to seek\n"
    "  --count K, -n K   samples to list after the seek (default 5)\n"
    "  --md5             add the MD5 of each sample's bytes\n"
    "  --verbose         show the library's own lines (on stderr)\n"
    "  -h, --help        show this help\n"
    "  --version         show the version\n"
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
    if (command != "help") {
        text += kReadingNotes;
    }
    text += "Exit codes:\n";
    for (int code = 0; code < static_cast<int>(std::size(kExitMeanings)); ++code) {
        if (found == nullptr ||
            std::find(found->exitCodes.begin(), found->exitCodes.end(), code) != found->exitCodes.end()) {
            text += "  " + std::to_string(code) + "  " + kExitMeanings[code] + "\n";
        }
    }
    return text;
}
