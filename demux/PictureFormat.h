// What a video track's pictures are made of, as its codec configuration or
// its Colour element states, and the buffer its largest frame needs.
#ifndef MKV_DEMUX_PICTUREFORMAT_H
#define MKV_DEMUX_PICTUREFORMAT_H

#include <cstdint>
#include <functional>

class EBMLTrackEntry;

struct PictureFormat {
    uint32_t bitDepth = 8; // bits per sample
    // Samples per pixel, doubled so that 4:2:0 is whole: 2 for 4:0:0, 3 for
    // 4:2:0, 4 for 4:2:2, 6 for 4:4:4.
    uint32_t halfSamplesPerPixel = 3;
    // Whether the coding can be lossless (H.264 with transform bypass, HEVC
    // with transquant bypass, FFV1): frames then come close to the raw
    // picture, or past it.
    bool lossless = false;
};

// The largest of what the track's codec configuration (the SPS of avcC, hvcC
// and its PPS, av1C, VP9's CodecPrivate, a FFV1 FourCC) and its Colour
// element state; 8-bit 4:2:0 coded lossy where neither says more.
PictureFormat DescribePicture(const EBMLTrackEntry& entry);

// The buffer that holds every frame of a track of this size and format.
// The raw picture takes width x height x samples per pixel x bytes per sample
// (1 up to 8 bits, 2 up to 16). Coded frames get four thirds of it (which is
// width x height x 2 for 8-bit 4:2:0), lossless ones twice it, and never less
// than width x height x 2; then 8 KiB for what a frame carries beside the
// picture (parameter sets and encoder SEI repeated in key frames). A track
// without a width or height is sized as 1920 x 1080. Bounds past the signed
// 32-bit range, which frame sizes are counted in, are held at INT32_MAX.
uint32_t MaxVideoSampleSize(uint32_t width, uint32_t height, const PictureFormat& format);

// Calls visit(nal unit type, unit, size) for every NAL unit in the arrays of
// an HEVCDecoderConfigurationRecord, in record order; false when the record
// is too short for its fields or a count or size runs past it.
bool ForEachHevcConfigUnit(const uint8_t* data, int32_t length,
                           const std::function<void(uint32_t, const uint8_t*, int32_t)>& visit);

#endif
