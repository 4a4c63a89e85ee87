// VP8, VP9 and AV1 in IVF: a 32-byte file header ("DKIF", the codec's
// four-character code, the picture size, a time base), then each frame
// behind a 12-byte header with its size and time. An AV1 frame (a temporal
// unit) gets back the temporal delimiter that Matroska leaves out.
#include <algorithm>
#include <cstdint>

#include "StreamWriter.h"

namespace {

constexpr size_t kFileHeaderBytes = 32;
constexpr size_t kFrameHeaderBytes = 12;
constexpr uint64_t kLengthOffset = 24;
// Frame times count milliseconds, Matroska's usual precision.
constexpr uint32_t kTimeBaseDenominator = 1000;
constexpr int64_t kUnitsPerTick = 10000000 / kTimeBaseDenominator;

// An OBU header of type 2 (temporal delimiter) with a size field, and the
// size, 0.
constexpr unsigned kObuTemporalDelimiter = 2;
constexpr unsigned char kTemporalDelimiter[] = {0x12, 0x00};

uint16_t Clamp16(int32_t value)
{
    return static_cast<uint16_t>(value < 0 ? 0 : value > 0xFFFF ? 0xFFFF : value);
}

class IvfWriter : public StreamWriter {
public:
    IvfWriter(const TrackInfo& track, OutputFile& output) : output(output), isAv1(track.codecName == "AV1")
    {
        unsigned char header[kFileHeaderBytes] = {'D', 'K', 'I', 'F'};
        StoreLe16(header + 4, 0); // version
        StoreLe16(header + 6, kFileHeaderBytes);
        // "VP80", "VP90" or "AV01" in memory order; Video for Windows
        // tracks name it in biCompression only.
        StoreLe32(header + 8, track.format.codec != 0 ? track.format.codec : track.video.compression);
        StoreLe16(header + 12, Clamp16(track.video.width));
        StoreLe16(header + 14, Clamp16(track.video.height));
        StoreLe32(header + 16, kTimeBaseDenominator);
        StoreLe32(header + 20, 1); // numerator
        // The field at kLengthOffset, first meant as the frame count, is
        // read by the common players as the stream's length in time-base
        // units, which is what it gets at the end where the output allows
        // it; 0 means unknown.
        output.Write(header, sizeof header);
    }

    void Write(const TrackSample& sample) override
    {
        int64_t start = Ticks(sample.record.startTime);
        bool delimit = isAv1 && (sample.Size() == 0 || (sample.Bytes()[0] >> 3 & 0x0Fu) != kObuTemporalDelimiter);
        unsigned char header[kFrameHeaderBytes];
        StoreLe32(header, static_cast<uint32_t>(sample.Size() + (delimit ? sizeof kTemporalDelimiter : 0)));
        StoreLe64(header + 4, static_cast<uint64_t>(start));
        output.Write(header, sizeof header);
        if (delimit) {
            output.Write(kTemporalDelimiter, sizeof kTemporalDelimiter);
        }
        output.Write(sample.Bytes(), sample.Size());
        int64_t frameEnd = Ticks(sample.record.endTime);
        end = anyFrame ? std::max(end, frameEnd) : frameEnd;
        if (!anyFrame) {
            first = start;
            anyFrame = true;
        }
    }

    void Finish() override
    {
        int64_t ticks = anyFrame && end > first ? std::min<int64_t>(end - first, UINT32_MAX) : 0;
        unsigned char length[4];
        StoreLe32(length, static_cast<uint32_t>(ticks));
        output.Overwrite(kLengthOffset, length, sizeof length);
    }

private:
    // Floor division keeps times before zero in order.
    static int64_t Ticks(int64_t time) { return time / kUnitsPerTick - (time % kUnitsPerTick < 0 ? 1 : 0); }

    OutputFile& output;
    bool isAv1;
    bool anyFrame = false;
    int64_t first = 0;
    int64_t end = 0;
};

} // namespace

std::unique_ptr<StreamWriter> MakeIvfWriter(const TrackInfo& track, OutputFile& output)
{
    return std::make_unique<IvfWriter>(track, output);
}
