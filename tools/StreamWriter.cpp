// The writer chosen by a track's stream form, and the forms that are the
// frames back to back, behind a header or not.
#include "StreamWriter.h"

#include <cstring>
#include <vector>

#include "ToolError.h"

namespace {

// Frames back to back, after a header when the stream needs one.
class FrameWriter : public StreamWriter {
public:
    // With headerMayRepeat the header is left out when the first frame
    // already starts with it.
    FrameWriter(OutputFile& output, std::vector<unsigned char> header, bool headerMayRepeat)
        : output(output), header(std::move(header)), headerMayRepeat(headerMayRepeat)
    {
    }

    void Write(const TrackSample& sample) override
    {
        if (!header.empty()) {
            bool repeated = headerMayRepeat && sample.Size() >= header.size() &&
                            std::memcmp(sample.Bytes(), header.data(), header.size()) == 0;
            if (!repeated) {
                output.Write(header.data(), header.size());
            }
            header.clear();
        }
        output.Write(sample.Bytes(), sample.Size());
    }

private:
    OutputFile& output;
    std::vector<unsigned char> header;
    bool headerMayRepeat;
};

std::vector<unsigned char> Bytes(const unsigned char* data, int32_t size)
{
    return data != nullptr && size > 0 ? std::vector<unsigned char>(data, data + size)
                                       : std::vector<unsigned char>();
}

constexpr size_t kFlacMarkerBytes = 4;
constexpr size_t kFlacBlockHeaderBytes = 4;
constexpr unsigned char kFlacLastBlock = 0x80;

// The FLAC stream header: "fLaC" and the metadata blocks, as the codec
// private data holds them, with only the final block marked as the last, so
// that a decoder takes what follows for frames.
std::vector<unsigned char> FlacHeader(const TrackInfo& track, const std::string& where)
{
    std::vector<unsigned char> header = Bytes(track.format.codecPrivate, track.format.codecPrivateSize);
    if (header.size() < kFlacMarkerBytes || std::memcmp(header.data(), "fLaC", kFlacMarkerBytes) != 0) {
        throw ToolError(kExitUnsupportedTrack, where + "FLAC track without its stream header (\"fLaC\")");
    }
    size_t position = kFlacMarkerBytes;
    size_t lastBlock = 0;
    while (position < header.size() && header.size() - position >= kFlacBlockHeaderBytes) {
        lastBlock = position;
        header[position] &= static_cast<unsigned char>(~kFlacLastBlock);
        size_t length = static_cast<size_t>(header[position + 1]) << 16 |
                        static_cast<size_t>(header[position + 2]) << 8 | header[position + 3];
        position += kFlacBlockHeaderBytes + length;
    }
    if (lastBlock == 0 || position != header.size()) {
        throw ToolError(kExitUnsupportedTrack, where + "FLAC stream header whose metadata blocks do not fill it");
    }
    header[lastBlock] |= kFlacLastBlock;
    return header;
}

} // namespace

void StoreLe16(unsigned char* p, uint32_t value)
{
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
}

void StoreLe32(unsigned char* p, uint32_t value)
{
    StoreLe16(p, value);
    StoreLe16(p + 2, value >> 16);
}

void StoreLe64(unsigned char* p, uint64_t value)
{
    StoreLe32(p, static_cast<uint32_t>(value));
    StoreLe32(p + 4, static_cast<uint32_t>(value >> 32));
}

std::unique_ptr<StreamWriter> MakeStreamWriter(const TrackInfo& track, OutputFile& output, const std::string& where)
{
    const ZOLVDMX_MEDIA_FORMAT_T& format = track.format;
    switch (track.form) {
    case StreamForm::AacAdts: return MakeAdtsWriter(track, output, where);
    case StreamForm::Ivf: return MakeIvfWriter(track, output);
    case StreamForm::OggOpus:
    case StreamForm::OggVorbis: return MakeOggWriter(track, output, where);
    case StreamForm::Wav: return MakeWavWriter(track, output, where);
    case StreamForm::Flac: return std::make_unique<FrameWriter>(output, FlacHeader(track, where), false);
    case StreamForm::ConfigFirst:
        // Decoders need the VOL header before the first frame; files made
        // from AVI repeat it in the key frames, others keep it in the track
        // header only.
        return std::make_unique<FrameWriter>(output, Bytes(format.config, format.configSize), true);
    case StreamForm::AnnexB: // the library hands out the parameter sets as the first sample
    case StreamForm::Frames:
    case StreamForm::NeedsContainer: break;
    }
    return std::make_unique<FrameWriter>(output, std::vector<unsigned char>(), false);
}
