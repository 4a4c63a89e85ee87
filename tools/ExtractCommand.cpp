// mkvdemux extract: a track's elementary stream, in the form a desktop
// player opens on its own where the codec has one.
#include <cstdio>
#include <memory>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "Commands.h"
#include "Demuxer.h"
#include "OutputFile.h"
#include "Progress.h"
#include "StreamWriter.h"
#include "ToolError.h"
#include "TrackInfo.h"

namespace {

std::string FormName(const TrackInfo& track)
{
    switch (track.form) {
    case StreamForm::AnnexB: return track.codecName + " Annex B stream";
    case StreamForm::AacAdts: return "AAC in ADTS";
    case StreamForm::ConfigFirst: return "MPEG-4 Visual stream";
    case StreamForm::Frames: return "elementary stream";
    case StreamForm::Ivf: return "IVF";
    case StreamForm::Flac: return "FLAC stream";
    case StreamForm::Wav: return "WAV";
    case StreamForm::OggOpus:
    case StreamForm::OggVorbis: return "Ogg";
    case StreamForm::NeedsContainer: return "raw frames";
    }
    return "raw frames";
}

// Writing over the input would truncate the file the library is reading.
bool SameFile(const std::string& a, const std::string& b)
{
    struct stat first;
    struct stat second;
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

} // namespace

int RunExtract(const Options& options)
{
    bool toStdout = options.output == "-";
    if (toStdout && isatty(STDOUT_FILENO) == 1) {
        throw ToolError(kExitUsage, "refusing to write a binary stream to a terminal; give -o a file name");
    }
    if (!toStdout && SameFile(options.file, options.output)) {
        throw ToolError(kExitUsage, options.output + ": the output would overwrite the input");
    }

    Demuxer demuxer(options.file, options.verbose);
    demuxer.RequireAudioOrVideo(options.track, "extract");
    TrackInfo track = DescribeTrack(demuxer, options.track);
    if (track.form == StreamForm::NeedsContainer) {
        std::fprintf(stderr,
                     "mkvdemux: warning: track %d (%s) has no elementary stream format; its frames are written "
                     "back to back, which players open only inside a container\n",
                     static_cast<int>(track.index), track.CodecLabel().c_str());
    }

    std::string where = options.file + ": track " + std::to_string(track.index) + ": ";
    OutputFile output(options.output);
    std::unique_ptr<StreamWriter> writer = MakeStreamWriter(track, output, where);
    ProgressBar progress(ProgressWanted(options.fileSize, options.noProgress, false), "extract");
    TrackSample sample = demuxer.NewSample(track.index);
    long samples = 0;
    for (;; ++samples) {
        uint32_t status = demuxer.NextSample(track.index, sample);
        if (status == ZOLVDMX_END_OF_TRACK) {
            break;
        }
        if (status == ZOLVDMX_E_UNSUPPORTED && samples == 0) {
            throw ToolError(kExitUnsupportedTrack,
                            where + "the library delivers no samples for it (status " + StatusText(status) + ")");
        }
        if (status != ZOLVDMX_OK) {
            demuxer.FailDelivery(track.index, samples, status);
        }
        writer->Write(sample);
        if (track.format.duration > 0) {
            progress.Update(static_cast<double>(sample.record.startTime) / static_cast<double>(track.format.duration));
        }
    }
    writer->Finish();
    output.Commit();
    progress.Clear();
    std::fprintf(stderr, "mkvdemux: track %d (%s): %ld samples, %llu bytes written as %s to %s\n",
                 static_cast<int>(track.index), track.CodecLabel().c_str(), samples, output.Written(),
                 FormName(track).c_str(), toStdout ? "standard output" : options.output.c_str());
    return 0;
}
