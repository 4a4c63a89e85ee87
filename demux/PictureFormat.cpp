// Picture formats read from codec configurations and the Colour element, and
// the frame buffer bound that follows from them.
#include "PictureFormat.h"

#include <algorithm>
#include <cstring>

#include "matroska/EBMLTrack.h"

namespace {

constexpr uint32_t kDefaultWidth = 1920;
constexpr uint32_t kDefaultHeight = 1080;
// Room for what a frame carries beside the picture: x264 repeats about
// 700 bytes of SEI, x265 about 2.5 KB, besides the parameter sets.
constexpr uint64_t kHeaderRoom = 8192;
constexpr uint32_t kMaxBitDepth = 16;
constexpr uint32_t kMonochrome = 2;
constexpr uint32_t kChroma420 = 3;
constexpr uint32_t kChroma422 = 4;
constexpr uint32_t kChroma444 = 6;
// The leading bytes of a parameter set that hold the fields read here, with
// room for long Exp-Golomb codes.
constexpr int32_t kParameterSetHead = 64;

// The bits of a NAL unit's payload, with its emulation prevention bytes
// (the 03 of 00 00 03) removed. Reading past the end reads zeros and marks
// the reader failed; callers look at Failed() once, at the end.
class NalBitReader {
public:
    NalBitReader(const uint8_t* unit, int32_t size)
    {
        int32_t zeros = 0;
        for (int32_t k = 0; k < size && length < kParameterSetHead; ++k) {
            if (zeros >= 2 && unit[k] == 0x03) {
                zeros = 0;
                continue;
            }
            zeros = unit[k] == 0 ? zeros + 1 : 0;
            bytes[length++] = unit[k];
        }
    }
    uint32_t Bits(int32_t count)
    {
        uint32_t value = 0;
        for (int32_t k = 0; k < count; ++k, ++bit) {
            if (bit >= 8 * length) {
                failed = true;
                return 0;
            }
            value = value << 1 | ((bytes[bit / 8] >> (7 - bit % 8)) & 1u);
        }
        return value;
    }
    // ue(v); a signed se(v) is read the same way where only its length matters.
    uint32_t Golomb()
    {
        int32_t zeros = 0;
        while (Bits(1) == 0 && !failed) {
            if (++zeros > 31) {
                failed = true;
                return 0;
            }
        }
        return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + Bits(zeros));
    }
    bool Failed() const { return failed; }

private:
    uint8_t bytes[kParameterSetHead] = {};
    int32_t length = 0;
    int32_t bit = 0;
    bool failed = false;
};

uint32_t HalfSamplesOfChromaFormat(uint32_t chromaFormatIdc)
{
    const uint32_t layouts[] = {kMonochrome, kChroma420, kChroma422, kChroma444};
    return layouts[chromaFormatIdc & 3];
}

void Widen(PictureFormat& format, uint32_t bitDepth, uint32_t halfSamples, bool lossless)
{
    format.bitDepth = std::max(format.bitDepth, std::min(bitDepth, kMaxBitDepth));
    format.halfSamplesPerPixel = std::max(format.halfSamplesPerPixel, halfSamples);
    format.lossless = format.lossless || lossless;
}

// An H.264 sequence parameter set (NAL header byte first): the high
// profiles state chroma format and bit depths, and whether transform
// bypass (lossless macroblocks) is allowed; the others are 8-bit 4:2:0.
void ReadAvcSps(const uint8_t* unit, int32_t size, PictureFormat& format)
{
    NalBitReader sps(unit, size);
    const uint32_t nalType = sps.Bits(8) & 0x1F;
    const uint32_t profile = sps.Bits(8);
    sps.Bits(16); // constraint flags, level
    sps.Golomb(); // seq_parameter_set_id
    const uint32_t highProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
    const bool high = std::find(std::begin(highProfiles), std::end(highProfiles), profile) != std::end(highProfiles);
    if (nalType != 7 || !high) {
        return;
    }
    const uint32_t chromaFormatIdc = sps.Golomb();
    if (chromaFormatIdc == 3) {
        sps.Bits(1); // separate_colour_plane_flag: the same samples, coded as three pictures
    }
    const uint32_t lumaDepth = sps.Golomb();
    const uint32_t chromaDepth = sps.Golomb();
    const bool transformBypass = sps.Bits(1) == 1;
    if (!sps.Failed() && chromaFormatIdc <= 3 && lumaDepth <= 6 && chromaDepth <= 6) {
        Widen(format, 8 + std::max(lumaDepth, chromaDepth), HalfSamplesOfChromaFormat(chromaFormatIdc),
              transformBypass);
    }
}

// AVCDecoderConfigurationRecord: every sequence parameter set.
void ReadAvcConfig(const uint8_t* data, int32_t length, PictureFormat& format)
{
    if (length < 6) {
        return;
    }
    int32_t at = 6;
    for (int32_t count = data[5] & 0x1F; count > 0 && length - at >= 2; --count) {
        const int32_t size = data[at] << 8 | data[at + 1];
        at += 2;
        if (size > length - at) {
            return;
        }
        ReadAvcSps(data + at, size, format);
        at += size;
    }
}

// An HEVC picture parameter set (two NAL header bytes first): the fields up
// to transquant_bypass_enabled_flag, which allows lossless coding units.
bool HevcPpsAllowsLossless(const uint8_t* unit, int32_t size)
{
    NalBitReader pps(unit, size);
    pps.Bits(16);   // NAL unit header
    pps.Golomb();   // pps_pic_parameter_set_id
    pps.Golomb();   // pps_seq_parameter_set_id
    pps.Bits(7);    // dependent slices, output flag, 3 extra slice header bits, sign hiding, CABAC init
    pps.Golomb();   // num_ref_idx_l0_default_active_minus1
    pps.Golomb();   // num_ref_idx_l1_default_active_minus1
    pps.Golomb();   // init_qp_minus26
    pps.Bits(2);    // constrained intra prediction, transform skip
    if (pps.Bits(1) == 1) { // cu_qp_delta_enabled_flag
        pps.Golomb();       // diff_cu_qp_delta_depth
    }
    pps.Golomb();   // pps_cb_qp_offset
    pps.Golomb();   // pps_cr_qp_offset
    pps.Bits(3);    // slice chroma QP offsets, weighted prediction, weighted biprediction
    const bool bypass = pps.Bits(1) == 1;
    return bypass && !pps.Failed();
}

// HEVCDecoderConfigurationRecord: chroma format and bit depths in its fixed
// fields (bytes 16 to 18), lossless coding in a PPS.
void ReadHevcConfig(const uint8_t* data, int32_t length, PictureFormat& format)
{
    constexpr uint32_t kPpsType = 34;
    constexpr int32_t kFixedFields = 23;
    if (length < kFixedFields) {
        return;
    }
    // A damaged array leaves the units before it read.
    bool lossless = false;
    ForEachHevcConfigUnit(data, length, [&](uint32_t type, const uint8_t* unit, int32_t size) {
        lossless = lossless || (type == kPpsType && HevcPpsAllowsLossless(unit, size));
    });
    Widen(format, 8 + std::max(data[17] & 7u, data[18] & 7u), HalfSamplesOfChromaFormat(data[16]), lossless);
}

// AV1CodecConfigurationRecord: marker and version 1, then in byte 2
// high_bitdepth, twelve_bit, monochrome and the chroma subsampling bits.
void ReadAv1Config(const uint8_t* data, int32_t length, PictureFormat& format)
{
    if (length < 4 || data[0] != 0x81) {
        return;
    }
    const uint8_t flags = data[2];
    const uint32_t depth = (flags & 0x40) == 0 ? 8 : (flags & 0x20) != 0 ? 12 : 10;
    const bool across = (flags & 0x08) != 0;
    const bool down = (flags & 0x04) != 0;
    const uint32_t layout = (flags & 0x10) != 0 ? kMonochrome : !across ? kChroma444 : down ? kChroma420 : kChroma422;
    Widen(format, depth, layout, false);
}

// VP9 CodecPrivate: features of an ID byte, a length byte and a value; ID 3
// is the bit depth, ID 4 the chroma subsampling (0 and 1: 4:2:0, 2: 4:2:2,
// 3: 4:4:4).
void ReadVp9Config(const uint8_t* data, int32_t length, PictureFormat& format)
{
    for (int32_t at = 0; length - at >= 2 && data[at + 1] <= length - at - 2; at += 2 + data[at + 1]) {
        if (data[at + 1] != 1) {
            continue;
        }
        const uint8_t value = data[at + 2];
        if (data[at] == 3) {
            Widen(format, value, kChroma420, false);
        } else if (data[at] == 4 && value <= 3) {
            Widen(format, 8, value <= 1 ? kChroma420 : value == 2 ? kChroma422 : kChroma444, false);
        }
    }
}

// Colour: BitsPerChannel, and chroma planes of 1 / ((1 + across) x (1 + down)) the picture.
void ReadColour(const EBMLColour& colour, PictureFormat& format)
{
    uint32_t halfSamples = kChroma420;
    if (colour.chromaSubsamplingStated) {
        const uint32_t across = std::min<uint32_t>(colour.chromaSubsamplingHorz, 15) + 1;
        const uint32_t down = std::min<uint32_t>(colour.chromaSubsamplingVert, 15) + 1;
        halfSamples = kMonochrome + (4 + across * down - 1) / (across * down); // rounded up
    }
    Widen(format, colour.bitsPerChannel, halfSamples, false);
}

// FFV1 is lossless; Video for Windows tracks name it in their BITMAPINFOHEADER.
bool IsFfv1(const EBMLTrackEntry& entry, const uint8_t* data, int32_t length)
{
    constexpr int32_t kCompressionAt = 16;
    return entry.codecID.Find("V_FFV1") >= 0 ||
           (entry.codecID.Find("V_MS/VFW/FOURCC") >= 0 && length >= kCompressionAt + 4 &&
            std::memcmp(data + kCompressionAt, "FFV1", 4) == 0);
}

} // namespace

bool ForEachHevcConfigUnit(const uint8_t* data, int32_t length,
                           const std::function<void(uint32_t, const uint8_t*, int32_t)>& visit)
{
    // 22 bytes of profile and format fields, the number of arrays, then per
    // array a NAL unit type byte, a 16-bit count and each unit behind a
    // 16-bit size.
    constexpr int32_t kArraysAt = 22;
    if (data == nullptr || length <= kArraysAt) {
        return false;
    }
    int32_t readAt = kArraysAt + 1;
    for (int32_t array = 0; array < data[kArraysAt]; ++array) {
        if (length - readAt < 3) {
            return false;
        }
        const uint32_t type = data[readAt] & 0x3Fu;
        const int32_t units = data[readAt + 1] << 8 | data[readAt + 2];
        readAt += 3;
        for (int32_t k = 0; k < units; ++k) {
            if (length - readAt < 2) {
                return false;
            }
            const int32_t unitSize = data[readAt] << 8 | data[readAt + 1];
            readAt += 2;
            if (unitSize > length - readAt) {
                return false;
            }
            visit(type, data + readAt, unitSize);
            readAt += unitSize;
        }
    }
    return true;
}

PictureFormat DescribePicture(const EBMLTrackEntry& entry)
{
    PictureFormat format;
    const uint8_t* data = entry.codecPrivate.GetData();
    const int32_t length = entry.codecPrivate.IsEmpty() ? 0 : entry.codecPrivate.GetLength();
    if (entry.codecID.Find("V_MPEG4/ISO/AVC") >= 0) {
        ReadAvcConfig(data, length, format);
    } else if (entry.codecID.Find("V_MPEGH/ISO/HEVC") >= 0) {
        ReadHevcConfig(data, length, format);
    } else if (entry.codecID.Find("V_AV1") >= 0) {
        ReadAv1Config(data, length, format);
    } else if (entry.codecID.Find("V_VP9") >= 0) {
        ReadVp9Config(data, length, format);
    }
    format.lossless = format.lossless || IsFfv1(entry, data, length);
    if (entry.video != nullptr && entry.video->colour != nullptr) {
        ReadColour(*entry.video->colour, format);
    }
    return format;
}

uint32_t MaxVideoSampleSize(uint32_t width, uint32_t height, const PictureFormat& format)
{
    if (width == 0 || height == 0) {
        width = kDefaultWidth;
        height = kDefaultHeight;
    }
    const uint64_t limit = static_cast<uint64_t>(INT32_MAX);
    const uint64_t pixels = uint64_t{width} * height; // below 2^64
    if (pixels > limit) {
        return static_cast<uint32_t>(limit); // even one byte a pixel is past the limit
    }
    // Below 2^31 x 6 x 2: no product here can wrap.
    const uint64_t bytesPerSample = (std::min(format.bitDepth, kMaxBitDepth) + 7) / 8;
    const uint64_t twiceRaw = pixels * format.halfSamplesPerPixel * bytesPerSample;
    const uint64_t coded = format.lossless ? twiceRaw : twiceRaw * 2 / 3;
    return static_cast<uint32_t>(std::min(std::max(coded, pixels * 2) + kHeaderRoom, limit));
}
