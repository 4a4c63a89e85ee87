// AAC in ADTS: a 7-byte header before each frame, its fields taken from the
// track's AudioSpecificConfig.
#include <string>

#include "StreamWriter.h"
#include "ToolError.h"

namespace {

constexpr size_t kAdtsHeaderBytes = 7;
// The frame length field has 13 bits and counts the header.
constexpr size_t kAdtsLargestFrame = (1u << 13) - 1;

// Bits of a byte string, most significant first; reading past the end
// gives zeros and marks the reader.
class BitReader {
public:
    BitReader(const unsigned char* data, size_t size) : data(data), size(size) {}

    uint32_t Read(unsigned count)
    {
        uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i, ++position) {
            unsigned bit = 0;
            if (position / 8 < size) {
                bit = (data[position / 8] >> (7 - position % 8)) & 1u;
            } else {
                overrun = true;
            }
            value = value << 1 | bit;
        }
        return value;
    }

    bool Overrun() const { return overrun; }

private:
    const unsigned char* data;
    size_t size;
    size_t position = 0;
    bool overrun = false;
};

uint32_t ReadObjectType(BitReader& bits)
{
    uint32_t type = bits.Read(5);
    return type == 31 ? 32 + bits.Read(6) : type;
}

// A sampling frequency index; 15 announces a frequency written out in 24
// bits, which ADTS cannot carry.
uint32_t ReadFrequencyIndex(BitReader& bits)
{
    uint32_t index = bits.Read(4);
    if (index == 15) {
        bits.Read(24);
    }
    return index;
}

// What an ADTS header says of the stream: the core AAC layer's object type,
// sampling frequency index and channel configuration. HE-AAC (SBR, PS)
// written as its own object type names the core behind its extension
// frequency; an HE-AAC core is announced at its own rate, which decoders
// double when they find SBR data in the frames.
struct AdtsFields {
    uint32_t objectType = 0;
    uint32_t frequencyIndex = 0;
    uint32_t channelConfig = 0;
    bool shortFrames = false; // 960 samples per frame instead of 1024
};

constexpr uint32_t kObjectTypeSbr = 5;
constexpr uint32_t kObjectTypePs = 29;

AdtsFields ReadAacConfig(const TrackInfo& track, const std::string& where)
{
    const ZOLVDMX_MEDIA_FORMAT_T& format = track.format;
    if (format.codecPrivate == nullptr || format.codecPrivateSize < 2) {
        throw ToolError(kExitUnsupportedTrack, where + "AAC track without a decoder configuration");
    }
    BitReader bits(format.codecPrivate, static_cast<size_t>(format.codecPrivateSize));
    AdtsFields fields;
    fields.objectType = ReadObjectType(bits);
    fields.frequencyIndex = ReadFrequencyIndex(bits);
    fields.channelConfig = bits.Read(4);
    if (fields.objectType == kObjectTypeSbr || fields.objectType == kObjectTypePs) {
        ReadFrequencyIndex(bits); // the extension's output rate
        fields.objectType = ReadObjectType(bits);
    }
    // GASpecificConfig of the core opens with frameLengthFlag.
    fields.shortFrames = bits.Read(1) == 1 && !bits.Overrun();
    // ADTS carries the object type in two bits (Main, LC, SSR, LTP), a
    // frequency index up to 12, a channel configuration up to 7, and
    // frames of 1024 samples.
    if (fields.objectType < 1 || fields.objectType > 4 || fields.frequencyIndex > 12 || fields.channelConfig < 1 ||
        fields.channelConfig > 7 || fields.shortFrames) {
        throw ToolError(kExitUnsupportedTrack,
                        where + "AAC configuration (object type " + std::to_string(fields.objectType) +
                            ", frequency index " + std::to_string(fields.frequencyIndex) + ", channels " +
                            std::to_string(fields.channelConfig) + (fields.shortFrames ? ", 960-sample frames" : "") +
                            ") has no ADTS form");
    }
    return fields;
}

class AdtsWriter : public StreamWriter {
public:
    AdtsWriter(OutputFile& output, const AdtsFields& fields, const std::string& where)
        : output(output), fields(fields), where(where)
    {
    }

    void Write(const TrackSample& sample) override
    {
        size_t length = sample.Size() + kAdtsHeaderBytes;
        if (length > kAdtsLargestFrame) {
            throw ToolError(kExitLibraryError, where + "AAC frame " + std::to_string(frames) + " of " +
                                                   std::to_string(sample.Size()) +
                                                   " bytes is too large for an ADTS header");
        }
        unsigned char header[kAdtsHeaderBytes];
        header[0] = 0xFF; // sync word 0xFFF
        header[1] = 0xF1; // MPEG-4, layer 0, no CRC
        header[2] = static_cast<unsigned char>(((fields.objectType - 1) << 6) | (fields.frequencyIndex << 2) |
                                               (fields.channelConfig >> 2));
        header[3] = static_cast<unsigned char>(((fields.channelConfig & 0x03u) << 6) | ((length >> 11) & 0x03u));
        header[4] = static_cast<unsigned char>((length >> 3) & 0xFFu);
        header[5] = static_cast<unsigned char>(((length & 0x07u) << 5) | 0x1Fu); // fullness 0x7FF: variable rate
        header[6] = 0xFC;                                                       // and one raw data block
        output.Write(header, sizeof header);
        output.Write(sample.Bytes(), sample.Size());
        ++frames;
    }

private:
    OutputFile& output;
    AdtsFields fields;
    std::string where;
    long frames = 0;
};

} // namespace

std::unique_ptr<StreamWriter> MakeAdtsWriter(const TrackInfo& track, OutputFile& output, const std::string& where)
{
    return std::make_unique<AdtsWriter>(output, ReadAacConfig(track, where), where);
}
