// Tracks, track entries and their Video, Audio and TrackTranslate settings,
// and the content-encoding check the loader runs on each entry.
#include "EBMLTrack.h"

#include <cstdlib>

#include "ebml/ElementLoop.h"

uint32_t EBMLVideo::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdFlagInterlaced:
            flagInterlaced = child.ReadUInt32();
            return true;
        case kIdStereoMode:
            stereoMode = child.ReadUInt32();
            return true;
        case kIdPixelWidth:
            pixelWidth = child.ReadUInt32();
            return true;
        case kIdPixelHeight:
            pixelHeight = child.ReadUInt32();
            return true;
        case kIdPixelCropBottom:
            pixelCropBottom = child.ReadUInt32();
            return true;
        case kIdPixelCropTop:
            pixelCropTop = child.ReadUInt32();
            return true;
        case kIdPixelCropLeft:
            pixelCropLeft = child.ReadUInt32();
            return true;
        case kIdPixelCropRight:
            pixelCropRight = child.ReadUInt32();
            return true;
        case kIdDisplayWidth:
            displayWidth = child.ReadUInt32();
            return true;
        case kIdDisplayHeight:
            displayHeight = child.ReadUInt32();
            return true;
        case kIdDisplayUnit:
            displayUnit = child.ReadUInt32();
            return true;
        case kIdAspectRatioType:
            aspectRatioType = child.ReadUInt32();
            return true;
        case kIdColourSpace:
            colourSpaceLength = child.ReadRaw(colourSpace);
            return true;
        case kIdGammaValue:
            gammaValue = child.ReadFloat();
            return true;
        case kIdFrameRate:
            frameRate = child.ReadFloat();
            return true;
        case kIdColour:
            child.ParseInto(colour);
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLColour::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdBitsPerChannel:
            bitsPerChannel = child.ReadUInt32();
            return true;
        case kIdChromaSubsamplingHorz:
            chromaSubsamplingHorz = child.ReadUInt32();
            chromaSubsamplingStated = true;
            return true;
        case kIdChromaSubsamplingVert:
            chromaSubsamplingVert = child.ReadUInt32();
            chromaSubsamplingStated = true;
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLAudio::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdSamplingFrequency:
            samplingFrequency = static_cast<float>(child.ReadFloat());
            return true;
        case kIdOutputSamplingFrequency:
            outputSamplingFrequency = static_cast<float>(child.ReadFloat());
            return true;
        case kIdChannels:
            channels = child.ReadUInt32();
            return true;
        case kIdChannelPositions:
            channelPositionsLength = child.ReadRaw(channelPositions);
            return true;
        case kIdBitDepth:
            child.ReadValue(bitDepth);
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLTrackTranslate::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdTrackTranslateEditionUid:
            editionUID = child.ReadUInt32();
            return true;
        case kIdTrackTranslateCodec:
            codec = child.ReadUInt32();
            return true;
        case kIdTrackTranslateTrackId:
            child.ReadString(trackID);
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLTrackEntry::Parse(CBitStreamParser* stream)
{
    // TrackTranslate is not among the handled children: the translation
    // list stays empty.
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdTrackNumber:
            trackNumber = child.ReadUInt32();
            return true;
        case kIdTrackUid:
            trackUID = child.ReadUInt32();
            return true;
        case kIdTrackType:
            child.ReadValue(trackType);
            return true;
        case kIdFlagEnabled:
            flagEnabled = child.ReadUInt32();
            return true;
        case kIdFlagDefault:
            flagDefault = child.ReadUInt32();
            return true;
        case kIdFlagForced:
            flagForced = child.ReadUInt32();
            return true;
        case kIdFlagLacing:
            flagLacing = child.ReadUInt32();
            return true;
        case kIdMinCache:
            minCache = child.ReadUInt32();
            return true;
        case kIdMaxCache:
            maxCache = child.ReadUInt32();
            return true;
        case kIdDefaultDuration:
            defaultDuration = child.ReadTime();
            return true;
        case kIdTrackTimecodeScale:
            trackTimecodeScale = child.ReadFloat();
            return true;
        case kIdTrackOffset:
            trackOffset = child.ReadUInt32();
            return true;
        case kIdMaxBlockAdditionId:
            maxBlockAdditionID = child.ReadUInt32();
            return true;
        case kIdName:
            child.ReadValue(name);
            return true;
        case kIdLanguage:
            child.ReadValue(language);
            return true;
        case kIdCodecId:
            child.ReadValue(codecID);
            return true;
        case kIdCodecPrivate:
            child.ReadValue(codecPrivate);
            return true;
        case kIdCodecName:
            child.ReadString(codecName);
            return true;
        case kIdAttachmentLink:
            attachmentLink = child.ReadUInt32();
            return true;
        case kIdCodecSettings:
            child.ReadString(codecSettings);
            return true;
        case kIdCodecInfoUrl:
            child.ReadString(codecInfoURL);
            return true;
        case kIdCodecDownloadUrl:
            child.ReadString(codecDownloadURL);
            return true;
        case kIdCodecDecodeAll:
            codecDecodeAll = child.ReadUInt32();
            return true;
        case kIdTrackOverlay:
            trackOverlay = child.ReadUInt32();
            return true;
        case kIdVideo:
            child.ParseInto(video);
            return true;
        case kIdAudio:
            child.ParseInto(audio);
            return true;
        case kIdContentEncodings:
            child.ParseInto(contentEncodings);
            return true;
        case kIdTrackEntryExtC0:
        case kIdTrackEntryExtC1:
        case kIdTrackEntryExtC2:
        case kIdTrackEntryExtC4:
        case kIdTrackEntryExtC5:
        case kIdTrackEntryExtC6:
        case kIdTrackEntryExtEA:
            child.Skip();
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLTrack::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        if (child.Id() != kIdTrackEntry) {
            return false;
        }
        child.ParseAppend(entries);
        return true;
    });
}

namespace {

// Whether SortContentEncoding orders these encodings consistently: its
// 32-bit difference keeps the sign of the true difference only while all
// orders lie within 2^31 - 1 of each other. Other orders from a damaged file
// would give qsort a comparator that is not a total order.
bool OrdersComparable(const std::vector<EBMLContentEncoding*>& encodings)
{
    uint32_t lowest = encodings.front()->order;
    uint32_t highest = lowest;
    for (const EBMLContentEncoding* encoding : encodings) {
        lowest = encoding->order < lowest ? encoding->order : lowest;
        highest = encoding->order > highest ? encoding->order : highest;
    }
    return highest - lowest <= static_cast<uint32_t>(INT32_MAX);
}

} // namespace

bool EBMLTrackEntry::Expand(uint64_t scope) const
{
    if (!contentEncodings || contentEncodings->encodings.empty()) {
        return true;
    }
    std::vector<EBMLContentEncoding*> sorted;
    sorted.reserve(contentEncodings->encodings.size());
    for (const auto& encoding : contentEncodings->encodings) {
        sorted.push_back(encoding.get());
    }
    // The answer does not depend on the order of the walk, so encodings
    // whose orders cannot be compared are walked as stored.
    if (OrdersComparable(sorted)) {
        std::qsort(sorted.data(), sorted.size(), sizeof(EBMLContentEncoding*), SortContentEncoding);
    }
    constexpr uint32_t kEncryption = 1;
    for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
        if ((*it)->type == kEncryption && (static_cast<uint64_t>((*it)->scope) & scope) != 0) {
            return false;
        }
    }
    return true;
}

EBMLTrackEntry::Storage EBMLTrackEntry::FrameStorage(const uint8_t*& prefix, int32_t& prefixLength) const
{
    prefix = nullptr;
    prefixLength = 0;
    if (!contentEncodings) {
        return Storage::Plain;
    }
    constexpr uint32_t kFrames = 1;
    constexpr uint32_t kCodecPrivate = 2;
    constexpr uint32_t kCompression = 0;
    constexpr uint32_t kEncryption = 1;
    constexpr uint32_t kHeaderStripping = 3;
    Storage storage = Storage::Plain;
    for (const auto& encoding : contentEncodings->encodings) {
        uint32_t scope = encoding->Scope();
        if ((scope & (kFrames | kCodecPrivate)) == 0) {
            continue;
        }
        uint32_t type = encoding->Type();
        if (type == kEncryption) {
            if ((scope & kFrames) != 0) {
                return Storage::Unreadable;
            }
            continue; // an encrypted CodecPrivate keeps the track out on its own
        }
        uint32_t algorithm = encoding->compression ? encoding->compression->algorithm : 0;
        if (type != kCompression || (scope & kCodecPrivate) != 0 || algorithm != kHeaderStripping ||
            storage != Storage::Plain) {
            return Storage::Unreadable;
        }
        storage = Storage::HeaderStripped;
        if (encoding->compression) {
            prefix = encoding->compression->settings.get();
            prefixLength = encoding->compression->settingsLength;
        }
    }
    return storage;
}
