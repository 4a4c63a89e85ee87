// PCM in a RIFF/WAVE file: the fmt chunk from the track's WAVEFORMATEX,
// then a data chunk holding the frames. The chunk sizes are filled in at
// the end; an output that cannot be rewritten (standard output) keeps
// 0xFFFFFFFF, which readers take as "up to the end of the file".
#include <cstring>
#include <string>

#include "StreamWriter.h"
#include "ToolError.h"

namespace {

constexpr uint16_t kFormatPcm = 0x0001;
// PCMWAVEFORMAT for integer PCM; other formats add cbSize (0).
constexpr uint32_t kPcmFormatBytes = 16;
constexpr uint32_t kFormatExBytes = 18;
constexpr uint32_t kUnknownSize = 0xFFFFFFFFu;
constexpr uint64_t kRiffSizeOffset = 4;

class WavWriter : public StreamWriter {
public:
    WavWriter(const AudioHeader& audio, OutputFile& output) : output(output)
    {
        formatBytes = audio.formatTag == kFormatPcm ? kPcmFormatBytes : kFormatExBytes;
        unsigned char header[12 + 8 + kFormatExBytes + 8] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
                                                              'f', 'm', 't', ' '};
        StoreLe32(header + 4, kUnknownSize);
        StoreLe32(header + 16, formatBytes);
        unsigned char* format = header + 20;
        StoreLe16(format, audio.formatTag);
        StoreLe16(format + 2, audio.channels);
        StoreLe32(format + 4, audio.samplesPerSec);
        StoreLe32(format + 8, audio.avgBytesPerSec);
        StoreLe16(format + 12, audio.blockAlign);
        StoreLe16(format + 14, audio.bitsPerSample);
        StoreLe16(format + 16, 0); // cbSize, when written
        unsigned char* data = format + formatBytes;
        std::memcpy(data, "data", 4);
        StoreLe32(data + 4, kUnknownSize);
        headerBytes = static_cast<uint32_t>(data + 8 - header);
        output.Write(header, headerBytes);
    }

    void Write(const TrackSample& sample) override
    {
        output.Write(sample.Bytes(), sample.Size());
        dataBytes += sample.Size();
    }

    void Finish() override
    {
        // Chunks are padded to an even size.
        if (dataBytes % 2 != 0) {
            const unsigned char pad = 0;
            output.Write(&pad, 1);
        }
        uint64_t riffBytes = headerBytes - 8 + dataBytes + dataBytes % 2;
        unsigned char size[4];
        StoreLe32(size, riffBytes <= kUnknownSize ? static_cast<uint32_t>(riffBytes) : kUnknownSize);
        output.Overwrite(kRiffSizeOffset, size, sizeof size);
        StoreLe32(size, dataBytes <= kUnknownSize ? static_cast<uint32_t>(dataBytes) : kUnknownSize);
        output.Overwrite(headerBytes - 4, size, sizeof size);
    }

private:
    OutputFile& output;
    uint32_t formatBytes = 0;
    uint32_t headerBytes = 0;
    uint64_t dataBytes = 0;
};

} // namespace

std::unique_ptr<StreamWriter> MakeWavWriter(const TrackInfo& track, OutputFile& output, const std::string& where)
{
    const AudioHeader& audio = track.audio;
    if (audio.channels == 0 || audio.samplesPerSec == 0 || audio.bitsPerSample == 0 || audio.blockAlign == 0) {
        throw ToolError(kExitUnsupportedTrack, where + "PCM track without channels, sampling rate or bit depth");
    }
    return std::make_unique<WavWriter>(audio, output);
}
