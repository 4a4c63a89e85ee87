// Matroska and EBML element IDs. Each is written as it appears in the file
// (first byte first, as in the published tables) and converted at compile
// time to the held form the parsers compare against: the ID's first byte is
// the least significant byte of the value.
#ifndef MKV_EBML_ELEMENTIDS_H
#define MKV_EBML_ELEMENTIDS_H

#include <cstdint>

constexpr uint32_t HeldId(uint32_t fileOrder)
{
    return fileOrder <= 0xFFu       ? fileOrder
           : fileOrder <= 0xFFFFu   ? ((fileOrder & 0xFFu) << 8) | (fileOrder >> 8)
           : fileOrder <= 0xFFFFFFu ? ((fileOrder & 0xFFu) << 16) | (fileOrder & 0xFF00u) | (fileOrder >> 16)
                                    : ((fileOrder & 0xFFu) << 24) | ((fileOrder & 0xFF00u) << 8) |
                                          ((fileOrder >> 8) & 0xFF00u) | (fileOrder >> 24);
}

// What the peek operations answer when no valid ID is there; matches no element.
constexpr uint32_t kIdInvalid = 0xFFFFFFFFu;

// Global elements, skipped by nearly every master element.
constexpr uint32_t kIdVoid = HeldId(0xEC);
constexpr uint32_t kIdCrc32 = HeldId(0xBF);
constexpr uint32_t kIdSignatureSlot = HeldId(0x1B538667);

// EBML header.
constexpr uint32_t kIdEbml = HeldId(0x1A45DFA3);
constexpr uint32_t kIdEbmlVersion = HeldId(0x4286);
constexpr uint32_t kIdEbmlReadVersion = HeldId(0x42F7);
constexpr uint32_t kIdEbmlMaxIdLength = HeldId(0x42F2);
constexpr uint32_t kIdEbmlMaxSizeLength = HeldId(0x42F3);
constexpr uint32_t kIdDocType = HeldId(0x4282);
constexpr uint32_t kIdDocTypeVersion = HeldId(0x4287);
constexpr uint32_t kIdDocTypeReadVersion = HeldId(0x4285);

// Segment and its top-level children.
constexpr uint32_t kIdSegment = HeldId(0x18538067);
constexpr uint32_t kIdSeekHead = HeldId(0x114D9B74);
constexpr uint32_t kIdInfo = HeldId(0x1549A966);
constexpr uint32_t kIdTracks = HeldId(0x1654AE6B);
constexpr uint32_t kIdCluster = HeldId(0x1F43B675);
constexpr uint32_t kIdCues = HeldId(0x1C53BB6B);
constexpr uint32_t kIdChapters = HeldId(0x1043A770);
constexpr uint32_t kIdAttachments = HeldId(0x1941A469);
constexpr uint32_t kIdTags = HeldId(0x1254C367);

// SeekHead.
constexpr uint32_t kIdSeek = HeldId(0x4DBB);
constexpr uint32_t kIdSeekId = HeldId(0x53AB);
constexpr uint32_t kIdSeekPosition = HeldId(0x53AC);

// Info.
constexpr uint32_t kIdSegmentUid = HeldId(0x73A4);
constexpr uint32_t kIdSegmentFilename = HeldId(0x7384);
constexpr uint32_t kIdPrevUid = HeldId(0x3CB923);
constexpr uint32_t kIdPrevFilename = HeldId(0x3C83AB);
constexpr uint32_t kIdNextUid = HeldId(0x3EB923);
constexpr uint32_t kIdNextFilename = HeldId(0x3E83BB);
constexpr uint32_t kIdSegmentFamily = HeldId(0x4444);
constexpr uint32_t kIdChapterTranslate = HeldId(0x6924);
constexpr uint32_t kIdChapterTranslateEditionUid = HeldId(0x69FC);
constexpr uint32_t kIdChapterTranslateCodec = HeldId(0x69BF);
constexpr uint32_t kIdChapterTranslateId = HeldId(0x69A5);
constexpr uint32_t kIdTimecodeScale = HeldId(0x2AD7B1);
constexpr uint32_t kIdDuration = HeldId(0x4489);
constexpr uint32_t kIdDateUtc = HeldId(0x4461);
constexpr uint32_t kIdTitle = HeldId(0x7BA9);
constexpr uint32_t kIdMuxingApp = HeldId(0x4D80);
constexpr uint32_t kIdWritingApp = HeldId(0x5741);

// Tracks.
constexpr uint32_t kIdTrackEntry = HeldId(0xAE);
constexpr uint32_t kIdTrackNumber = HeldId(0xD7);
constexpr uint32_t kIdTrackUid = HeldId(0x73C5);
constexpr uint32_t kIdTrackType = HeldId(0x83);
constexpr uint32_t kIdFlagEnabled = HeldId(0xB9);
constexpr uint32_t kIdFlagDefault = HeldId(0x88);
constexpr uint32_t kIdFlagForced = HeldId(0x55AA);
constexpr uint32_t kIdFlagLacing = HeldId(0x9C);
constexpr uint32_t kIdMinCache = HeldId(0x6DE7);
constexpr uint32_t kIdMaxCache = HeldId(0x6DF8);
constexpr uint32_t kIdDefaultDuration = HeldId(0x23E383);
constexpr uint32_t kIdTrackTimecodeScale = HeldId(0x23314F);
constexpr uint32_t kIdTrackOffset = HeldId(0x537F);
constexpr uint32_t kIdMaxBlockAdditionId = HeldId(0x55EE);
constexpr uint32_t kIdName = HeldId(0x536E);
constexpr uint32_t kIdLanguage = HeldId(0x22B59C);
constexpr uint32_t kIdCodecId = HeldId(0x86);
constexpr uint32_t kIdCodecPrivate = HeldId(0x63A2);
constexpr uint32_t kIdCodecName = HeldId(0x258688);
constexpr uint32_t kIdAttachmentLink = HeldId(0x7446);
constexpr uint32_t kIdCodecSettings = HeldId(0x3A9697);
constexpr uint32_t kIdCodecInfoUrl = HeldId(0x3B4040);
constexpr uint32_t kIdCodecDownloadUrl = HeldId(0x26B240);
constexpr uint32_t kIdCodecDecodeAll = HeldId(0xAA);
constexpr uint32_t kIdTrackOverlay = HeldId(0x6FAB);
constexpr uint32_t kIdTrackTranslate = HeldId(0x6624);
constexpr uint32_t kIdTrackTranslateEditionUid = HeldId(0x66FC);
constexpr uint32_t kIdTrackTranslateCodec = HeldId(0x66BF);
constexpr uint32_t kIdTrackTranslateTrackId = HeldId(0x66A5);
constexpr uint32_t kIdVideo = HeldId(0xE0);
constexpr uint32_t kIdAudio = HeldId(0xE1);
constexpr uint32_t kIdContentEncodings = HeldId(0x6D80);
// Further one-byte children that stored TrackEntry elements carry (extensions
// outside the core track table); nothing here uses them, so the entry passes
// over them.
constexpr uint32_t kIdTrackEntryExtC0 = HeldId(0xC0);
constexpr uint32_t kIdTrackEntryExtC1 = HeldId(0xC1);
constexpr uint32_t kIdTrackEntryExtC2 = HeldId(0xC2);
constexpr uint32_t kIdTrackEntryExtC4 = HeldId(0xC4);
constexpr uint32_t kIdTrackEntryExtC5 = HeldId(0xC5);
constexpr uint32_t kIdTrackEntryExtC6 = HeldId(0xC6);
constexpr uint32_t kIdTrackEntryExtEA = HeldId(0xEA);

// Video.
constexpr uint32_t kIdFlagInterlaced = HeldId(0x9A);
constexpr uint32_t kIdStereoMode = HeldId(0x53B8);
constexpr uint32_t kIdPixelWidth = HeldId(0xB0);
constexpr uint32_t kIdPixelHeight = HeldId(0xBA);
constexpr uint32_t kIdPixelCropBottom = HeldId(0x54AA);
constexpr uint32_t kIdPixelCropTop = HeldId(0x54BB);
constexpr uint32_t kIdPixelCropLeft = HeldId(0x54CC);
constexpr uint32_t kIdPixelCropRight = HeldId(0x54DD);
constexpr uint32_t kIdDisplayWidth = HeldId(0x54B0);
constexpr uint32_t kIdDisplayHeight = HeldId(0x54BA);
constexpr uint32_t kIdDisplayUnit = HeldId(0x54B2);
constexpr uint32_t kIdAspectRatioType = HeldId(0x54B3);
constexpr uint32_t kIdColourSpace = HeldId(0x2EB524);
constexpr uint32_t kIdGammaValue = HeldId(0x2FB523);
constexpr uint32_t kIdFrameRate = HeldId(0x2383E3);
constexpr uint32_t kIdColour = HeldId(0x55B0);
constexpr uint32_t kIdBitsPerChannel = HeldId(0x55B2);
constexpr uint32_t kIdChromaSubsamplingHorz = HeldId(0x55B3);
constexpr uint32_t kIdChromaSubsamplingVert = HeldId(0x55B4);

// Audio.
constexpr uint32_t kIdSamplingFrequency = HeldId(0xB5);
constexpr uint32_t kIdOutputSamplingFrequency = HeldId(0x78B5);
constexpr uint32_t kIdChannels = HeldId(0x9F);
constexpr uint32_t kIdChannelPositions = HeldId(0x7D7B);
constexpr uint32_t kIdBitDepth = HeldId(0x6264);

// Content encodings.
constexpr uint32_t kIdContentEncoding = HeldId(0x6240);
constexpr uint32_t kIdContentEncodingOrder = HeldId(0x5031);
constexpr uint32_t kIdContentEncodingScope = HeldId(0x5032);
constexpr uint32_t kIdContentEncodingType = HeldId(0x5033);
constexpr uint32_t kIdContentCompression = HeldId(0x5034);
constexpr uint32_t kIdContentCompAlgo = HeldId(0x4254);
constexpr uint32_t kIdContentCompSettings = HeldId(0x4255);
constexpr uint32_t kIdContentEncryption = HeldId(0x5035);
constexpr uint32_t kIdContentEncAlgo = HeldId(0x47E1);
constexpr uint32_t kIdContentEncKeyId = HeldId(0x47E2);
constexpr uint32_t kIdContentSignature = HeldId(0x47E3);
constexpr uint32_t kIdContentSigKeyId = HeldId(0x47E4);
constexpr uint32_t kIdContentSigAlgo = HeldId(0x47E5);
constexpr uint32_t kIdContentSigHashAlgo = HeldId(0x47E6);

// Cluster and block group.
constexpr uint32_t kIdTimecode = HeldId(0xE7);
constexpr uint32_t kIdBlockGroup = HeldId(0xA0);
constexpr uint32_t kIdSimpleBlock = HeldId(0xA3);
constexpr uint32_t kIdSilentTracks = HeldId(0x5854);
constexpr uint32_t kIdSilentTrackNumber = HeldId(0x58D7);
constexpr uint32_t kIdPosition = HeldId(0xA7);
constexpr uint32_t kIdPrevSize = HeldId(0xAB);
constexpr uint32_t kIdEncryptedBlock = HeldId(0xAF);
constexpr uint32_t kIdBlock = HeldId(0xA1);
constexpr uint32_t kIdBlockVirtual = HeldId(0xA2);
constexpr uint32_t kIdBlockAdditions = HeldId(0x75A1);
constexpr uint32_t kIdBlockMore = HeldId(0xA6);
constexpr uint32_t kIdBlockAddId = HeldId(0xEE);
constexpr uint32_t kIdBlockAdditional = HeldId(0xA5);
constexpr uint32_t kIdBlockDuration = HeldId(0x9B);
constexpr uint32_t kIdReferencePriority = HeldId(0xFA);
constexpr uint32_t kIdReferenceBlock = HeldId(0xFB);
constexpr uint32_t kIdReferenceVirtual = HeldId(0xFD);
constexpr uint32_t kIdCodecState = HeldId(0xA4);
constexpr uint32_t kIdDiscardPadding = HeldId(0x75A2);
constexpr uint32_t kIdSlices = HeldId(0x8E);
constexpr uint32_t kIdTimeSlice = HeldId(0xE8);

// Cues.
constexpr uint32_t kIdCuePoint = HeldId(0xBB);
constexpr uint32_t kIdCueTime = HeldId(0xB3);
constexpr uint32_t kIdCueTrackPositions = HeldId(0xB7);
constexpr uint32_t kIdCueTrack = HeldId(0xF7);
constexpr uint32_t kIdCueClusterPosition = HeldId(0xF1);
constexpr uint32_t kIdCueRelativePosition = HeldId(0xF0);
constexpr uint32_t kIdCueBlockNumber = HeldId(0x5378);
constexpr uint32_t kIdCueCodecState = HeldId(0xEA);
constexpr uint32_t kIdCueReference = HeldId(0xDB);

// Chapters.
constexpr uint32_t kIdEditionEntry = HeldId(0x45B9);
constexpr uint32_t kIdEditionUid = HeldId(0x45BC);
constexpr uint32_t kIdEditionFlagHidden = HeldId(0x45BD);
constexpr uint32_t kIdEditionFlagDefault = HeldId(0x45DB);
constexpr uint32_t kIdEditionFlagOrdered = HeldId(0x45DD);
constexpr uint32_t kIdChapterAtom = HeldId(0xB6);
constexpr uint32_t kIdChapterUid = HeldId(0x73C4);
constexpr uint32_t kIdChapterTimeStart = HeldId(0x91);
constexpr uint32_t kIdChapterTimeEnd = HeldId(0x92);
constexpr uint32_t kIdChapterFlagHidden = HeldId(0x98);
constexpr uint32_t kIdChapterFlagEnabled = HeldId(0x4598);
constexpr uint32_t kIdChapterSegmentUid = HeldId(0x6E67);
constexpr uint32_t kIdChapterPhysicalEquiv = HeldId(0x63C3);
constexpr uint32_t kIdChapterSegmentEditionUid = HeldId(0x6EBC);
constexpr uint32_t kIdChapterTrack = HeldId(0x8F);
constexpr uint32_t kIdChapterDisplay = HeldId(0x80);

// Attachments and signatures.
constexpr uint32_t kIdAttachedFile = HeldId(0x61A7);
constexpr uint32_t kIdSignature = HeldId(0x7EB5);
constexpr uint32_t kIdSignatureAlgo = HeldId(0x7E8A);
constexpr uint32_t kIdSignatureHash = HeldId(0x7E9A);
constexpr uint32_t kIdSignaturePublicKey = HeldId(0x7EA5);
constexpr uint32_t kIdSignatureElements = HeldId(0x7E5B);
constexpr uint32_t kIdSignatureElementList = HeldId(0x7E7B);
constexpr uint32_t kIdSignedElement = HeldId(0x6532);

static_assert(kIdEbml == 0xA3DF451Au, "held form puts the first ID byte lowest");
static_assert(kIdSegment == 0x67805318u, "held form puts the first ID byte lowest");
static_assert(kIdSeek == 0xBB4Du, "two-byte IDs are byte-swapped");
static_assert(kIdTimecodeScale == 0xB1D72Au, "three-byte IDs are byte-reversed");

#endif
