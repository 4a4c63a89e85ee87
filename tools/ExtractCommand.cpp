// mkvdemux extract: a track's elementary stream, in the form a desktop
// player opens on its own where the codec has one.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "Commands.h"
#include "Demuxer.h"
#include "Progress.h"
#include "ToolError.h"
#include "TrackInfo.h"

namespace {

constexpr size_t kAdtsHeaderBytes = 7;
// The ADTS frame length field has 13 bits and counts the header.
constexpr size_t kAdtsLargestFrame = (1u << 13) - 1;

// The fields of an ADTS header, from the library's AAC decoder
// configuration (an AudioSpecificConfig): audio object type in bits 7..3
// of byte 0, sampling frequency index in bits 2..0 of byte 0 and bit 7 of
// byte 1, channel configuration in bits 6..3 of byte 1.
struct AdtsFields {
    unsigned objectType = 0;
    unsigned frequencyIndex = 0;
    unsigned channelConfig = 0;
};

AdtsFields ReadAacConfig(const TrackInfo& track, const std::string& file)
{
    const ZOLVDMX_MEDIA_FORMAT_T& format = track.format;
    std::string where = file + ": track " + std::to_string(track.index) + ": ";
    if (format.codecPrivate == nullptr || format.codecPrivateSize < 2) {
        throw ToolError(kExitUnsupportedTrack, where + "AAC track without a decoder configuration");
    }
    const unsigned char* config = format.codecPrivate;
    AdtsFields fields;
    fields.objectType = config[0] >> 3;
    fields.frequencyIndex = ((config[0] & 0x07u) << 1) | (config[1] >> 7);
    fields.channelConfig = (config[1] >> 3) & 0x0Fu;
    // ADTS carries the object type in two bits (Main, LC, SSR, LTP), a
    // frequency index up to 12 and a channel configuration up to 7.
    if (fields.objectType < 1 || fields.objectType > 4 || fields.frequencyIndex > 12 || fields.channelConfig < 1 ||
        fields.channelConfig > 7) {
        throw ToolError(kExitUnsupportedTrack,
                        where + "AAC configuration (object type " + std::to_string(fields.objectType) +
                            ", frequency index " + std::to_string(fields.frequencyIndex) + ", channels " +
                            std::to_string(fields.channelConfig) + ") has no ADTS form");
    }
    return fields;
}

void BuildAdtsHeader(const AdtsFields& fields, size_t frameBytes, unsigned char* header)
{
    size_t length = frameBytes + kAdtsHeaderBytes;
    header[0] = 0xFF; // sync word 0xFFF
    header[1] = 0xF1; // MPEG-4, layer 0, no CRC
    header[2] = static_cast<unsigned char>(((fields.objectType - 1) << 6) | (fields.frequencyIndex << 2) |
                                           (fields.channelConfig >> 2));
    header[3] = static_cast<unsigned char>(((fields.channelConfig & 0x03u) << 6) | ((length >> 11) & 0x03u));
    header[4] = static_cast<unsigned char>((length >> 3) & 0xFFu);
    header[5] = static_cast<unsigned char>(((length & 0x07u) << 5) | 0x1Fu); // buffer fullness 0x7FF: variable rate
    header[6] = 0xFC;                                                       // and one raw data block
}

const char* FormName(StreamForm form)
{
    switch (form) {
    case StreamForm::H264AnnexB: return "H.264 Annex B stream";
    case StreamForm::AacAdts: return "AAC in ADTS";
    case StreamForm::ConfigFirst: return "MPEG-4 Visual stream";
    case StreamForm::Frames: return "elementary stream";
    case StreamForm::NeedsContainer: return "raw frames";
    }
    return "raw frames";
}

// The output file, removed again when the extraction does not complete.
class OutputFile {
public:
    explicit OutputFile(const std::string& path) : path(path)
    {
        if (path == "-") {
            stream = stdout;
            return;
        }
        stream = std::fopen(path.c_str(), "wb");
        if (stream == nullptr) {
            throw ToolError(kExitFailure, path + ": cannot write: " + std::strerror(errno));
        }
        buffer = static_cast<char*>(std::malloc(kBufferBytes));
        if (buffer != nullptr) {
            std::setvbuf(stream, buffer, _IOFBF, kBufferBytes);
        }
    }

    ~OutputFile()
    {
        if (stream != nullptr && stream != stdout) {
            std::fclose(stream);
            std::remove(path.c_str());
        }
        std::free(buffer);
    }

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const unsigned char* data, size_t size)
    {
        if (size > 0 && std::fwrite(data, 1, size, stream) != size) {
            Fail();
        }
        written += size;
    }

    // Flushes and closes; the file then stays.
    void Commit()
    {
        bool ok = std::fflush(stream) == 0 && !std::ferror(stream);
        if (stream != stdout) {
            ok = std::fclose(stream) == 0 && ok;
            stream = nullptr;
            if (!ok) {
                std::remove(path.c_str());
            }
        }
        if (!ok) {
            Fail();
        }
    }

    unsigned long long Written() const { return written; }

private:
    [[noreturn]] void Fail()
    {
        throw ToolError(kExitFailure, (path == "-" ? std::string("standard output") : path) +
                                          ": cannot write: " + std::strerror(errno));
    }

    static constexpr size_t kBufferBytes = 1 << 20;
    std::string path;
    FILE* stream = nullptr;
    char* buffer = nullptr;
    unsigned long long written = 0;
};

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
    AdtsFields adts;
    if (track.form == StreamForm::AacAdts) {
        adts = ReadAacConfig(track, options.file);
    }
    if (track.form == StreamForm::NeedsContainer) {
        std::fprintf(stderr,
                     "mkvdemux: warning: track %d (%s) has no elementary stream format; its frames are written "
                     "back to back, which players open only inside a container\n",
                     static_cast<int>(track.index), track.CodecLabel().c_str());
    }

    OutputFile output(options.output);
    ProgressBar progress(ProgressWanted(options.fileSize, options.noProgress, false), "extract");
    TrackSample sample = demuxer.NewSample(track.index);
    long samples = 0;
    for (;; ++samples) {
        uint32_t status = demuxer.NextSample(track.index, sample);
        if (status == ZOLVDMX_END_OF_TRACK) {
            break;
        }
        if (status == ZOLVDMX_E_UNSUPPORTED && samples == 0) {
            throw ToolError(kExitUnsupportedTrack, options.file + ": track " + std::to_string(track.index) +
                                                       ": the library delivers no samples for it (status " +
                                                       StatusText(status) + ")");
        }
        if (status != ZOLVDMX_OK) {
            demuxer.FailDelivery(track.index, samples, status);
        }
        const ZOLVDMX_MEDIA_FORMAT_T& format = track.format;
        if (samples == 0 && track.form == StreamForm::ConfigFirst && format.config != nullptr &&
            format.configSize > 0) {
            // Decoders need the VOL header before the first frame; files
            // made from AVI repeat it in the key frames, others keep it in
            // the track header only.
            size_t size = static_cast<size_t>(format.configSize);
            if (sample.Size() < size || std::memcmp(sample.Bytes(), format.config, size) != 0) {
                output.Write(format.config, size);
            }
        }
        if (track.form == StreamForm::AacAdts) {
            if (sample.Size() + kAdtsHeaderBytes > kAdtsLargestFrame) {
                throw ToolError(kExitLibraryError, options.file + ": track " + std::to_string(track.index) +
                                                       ": AAC frame " + std::to_string(samples) + " of " +
                                                       std::to_string(sample.Size()) +
                                                       " bytes is too large for an ADTS header");
            }
            unsigned char header[kAdtsHeaderBytes];
            BuildAdtsHeader(adts, sample.Size(), header);
            output.Write(header, sizeof header);
        }
        output.Write(sample.Bytes(), sample.Size());
        if (track.format.duration > 0) {
            progress.Update(static_cast<double>(sample.record.startTime) / static_cast<double>(track.format.duration));
        }
    }
    output.Commit();
    progress.Clear();
    std::fprintf(stderr, "mkvdemux: track %d (%s): %ld samples, %llu bytes written as %s to %s\n",
                 static_cast<int>(track.index), track.CodecLabel().c_str(), samples, output.Written(),
                 FormName(track.form), toStdout ? "standard output" : options.output.c_str());
    return 0;
}
