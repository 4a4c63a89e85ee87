// Tracks: the Tracks element, its entries and their Video, Audio and
// TrackTranslate settings. No Matroska default is applied: an absent
// element reads as 0, 0.0 or empty.
#ifndef MKV_MATROSKA_EBMLTRACK_H
#define MKV_MATROSKA_EBMLTRACK_H

#include <cstdint>
#include <memory>
#include <vector>

#include "ebml/EBML.h"
#include "ebml/EBMLDataType.h"
#include "ebml/MallocPtr.h"
#include "matroska/EBMLContentEncodings.h"

// TrackType values of a TrackEntry.
constexpr uint64_t kTrackTypeVideo = 1;
constexpr uint64_t kTrackTypeAudio = 2;
constexpr uint64_t kTrackTypeSubtitle = 17;

// Colour: of its children only what sizes a picture is kept.
class EBMLColour : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    uint32_t bitsPerChannel = 0; // 0: not said
    // Chroma pixels dropped per pixel kept, across and down (1 and 1 for
    // 4:2:0), when either element is present.
    uint32_t chromaSubsamplingHorz = 0;
    uint32_t chromaSubsamplingVert = 0;
    bool chromaSubsamplingStated = false;
};

class EBMLVideo : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    uint32_t flagInterlaced = 0;
    uint32_t stereoMode = 0;
    uint32_t pixelWidth = 0;
    uint32_t pixelHeight = 0;
    uint32_t pixelCropBottom = 0;
    uint32_t pixelCropTop = 0;
    uint32_t pixelCropLeft = 0;
    uint32_t pixelCropRight = 0;
    uint32_t displayWidth = 0;
    uint32_t displayHeight = 0;
    uint32_t displayUnit = 0;
    uint32_t aspectRatioType = 0;
    MallocPtr<uint8_t> colourSpace;
    int32_t colourSpaceLength = 0;
    double gammaValue = 0.0;
    double frameRate = 0.0; // frames per second
    std::unique_ptr<EBMLColour> colour;
};

class EBMLAudio : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    float samplingFrequency = 0.0f;
    float outputSamplingFrequency = 0.0f;
    uint32_t channels = 0;
    MallocPtr<uint8_t> channelPositions;
    int32_t channelPositionsLength = 0;
    EBMLUnsignedLong bitDepth;
};

class EBMLTrackTranslate : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    uint32_t editionUID = 0;
    uint32_t codec = 0;
    MallocPtr<char> trackID;
};

class EBMLTrackEntry : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;
    // True when no encryption layer of the track covers any of the given
    // scope bits (the loader asks with 2, CodecPrivate).
    bool Expand(uint64_t scope) const;
    // How the frames are stored: as they are, with a header stripped (the
    // bytes removed from the front of every frame in `prefix`), or in a way
    // the library does not undo (compressed otherwise, encrypted, or a
    // compressed CodecPrivate).
    enum class Storage { Plain, HeaderStripped, Unreadable };
    Storage FrameStorage(const uint8_t*& prefix, int32_t& prefixLength) const;

    uint32_t trackNumber = 0;
    uint32_t trackUID = 0;
    EBMLUnsignedLong trackType; // 1 video, 2 audio, 17 subtitle
    uint32_t flagEnabled = 0;
    uint32_t flagDefault = 0;
    uint32_t flagForced = 0;
    uint32_t flagLacing = 0;
    uint32_t minCache = 0;
    uint32_t maxCache = 0;
    uint64_t defaultDuration = 0; // nanoseconds per frame, at most INT64_MAX
    double trackTimecodeScale = 0.0;
    uint32_t trackOffset = 0;
    uint32_t maxBlockAdditionID = 0;
    EBMLUTF8 name;
    EBMLString language;
    EBMLString codecID;
    EBMLBinary codecPrivate;
    MallocPtr<char> codecName;
    uint32_t attachmentLink = 0;
    MallocPtr<char> codecSettings;
    MallocPtr<char> codecInfoURL;
    MallocPtr<char> codecDownloadURL;
    uint32_t codecDecodeAll = 0;
    uint32_t trackOverlay = 0;
    std::vector<std::unique_ptr<EBMLTrackTranslate>> translations;
    std::unique_ptr<EBMLVideo> video;
    std::unique_ptr<EBMLAudio> audio;
    std::unique_ptr<EBMLContentEncodings> contentEncodings;
};

class EBMLTrack : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    std::vector<std::unique_ptr<EBMLTrackEntry>> entries;
};

#endif
