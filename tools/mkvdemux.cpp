// mkvdemux, the reference host of libMKV: loads a Matroska file through the
// library's public interface and shows what a media player would get from
// it (tracks, samples, elementary streams, seeks).
#include <cstdio>
#include <exception>
#include <new>

#include "Commands.h"
#include "FileSource.h"
#include "Options.h"
#include "ToolError.h"

#ifndef MKVDEMUX_VERSION
#define MKVDEMUX_VERSION "unknown"
#endif

namespace {

// Returns code once everything written to stdout has left.
int Flushed(int code)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        throw ToolError(kExitFailure, "cannot write to standard output");
    }
    return code;
}

int Run(int argc, char** argv)
{
    // Samples are listed line by line; a large buffer keeps that cheap.
    static char stdoutBuffer[1 << 16];
    std::setvbuf(stdout, stdoutBuffer, _IOFBF, sizeof stdoutBuffer);

    Options options = ParseOptions(argc, argv);
    if (options.help) {
        std::fputs(HelpText(options.command).c_str(), stdout);
        return Flushed(kExitOk);
    }
    if (options.version) {
        std::printf("mkvdemux %s\n", MKVDEMUX_VERSION);
        return Flushed(kExitOk);
    }
    if (options.command == "help") {
        std::fputs(HelpText(options.topic).c_str(), stdout);
        return Flushed(kExitOk);
    }
    std::string problem = CheckReadableFile(options.file, &options.fileSize);
    if (!problem.empty()) {
        throw ToolError(kExitFileUnreadable, options.file + ": cannot read: " + problem);
    }
    // A file that ends before its Segment does (a download in progress, an
    // interrupted copy) plays up to the cut without a word from the library;
    // say so before any output, whatever the command makes of the rest.
    long long missing = SegmentShortfall(options.file, options.fileSize);
    if (missing > 0) {
        std::fprintf(stderr,
                     "mkvdemux: %s: the file ends %lld bytes before its Segment does (cut short, or still being "
                     "written)\n",
                     options.file.c_str(), missing);
    }

    int code = kExitOk;
    if (options.command == "info") {
        code = RunInfo(options);
    } else if (options.command == "packets") {
        code = RunPackets(options);
    } else if (options.command == "extract") {
        code = RunExtract(options);
    } else {
        code = RunSeek(options);
    }
    return Flushed(code);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const ToolError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "mkvdemux: %s\n", error.what());
        return error.code;
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "mkvdemux: out of memory\n");
        return kExitFailure;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "mkvdemux: %s\n", error.what());
        return kExitFailure;
    }
}
