// Byte layout of every record shared with the host, field by field, as a
// separately built host on the 32-bit device sees it.
#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>

#include "zolvdmx.h"

namespace {

struct Field {
    const char* name;
    size_t offset;
    size_t expected;
};

#define FIELD(Record, member, expected) Field{#member, offsetof(Record, member), expected}

void ExpectLayout(const char* record, size_t size, size_t expectedSize, std::initializer_list<Field> fields)
{
    EXPECT_EQ(size, expectedSize) << "sizeof " << record;
    for (const Field& field : fields) {
        EXPECT_EQ(field.offset, field.expected) << record << "." << field.name;
    }
}

} // namespace

TEST(RecordLayout, HeadersHaveTheirWindowsLayoutOnEveryTarget)
{
    ExpectLayout("ZOLVDMX_BITMAPINFOHEADER_T", sizeof(ZOLVDMX_BITMAPINFOHEADER_T), 40,
                 {FIELD(ZOLVDMX_BITMAPINFOHEADER_T, biSize, 0),
                  FIELD(ZOLVDMX_BITMAPINFOHEADER_T, biWidth, 4),
                  FIELD(ZOLVDMX_BITMAPINFOHEADER_T, biHeight, 8),
                  FIELD(ZOLVDMX_BITMAPINFOHEADER_T, biPlanes, 12),
                  FIELD(ZOLVDMX_BITMAPINFOHEADER_T, biBitCount, 14),
                  FIELD(ZOLVDMX_BITMAPINFOHEADER_T, biCompression, 16),
                  FIELD(ZOLVDMX_BITMAPINFOHEADER_T, biSizeImage, 20),
                  FIELD(ZOLVDMX_BITMAPINFOHEADER_T, biXPelsPerMeter, 24),
                  FIELD(ZOLVDMX_BITMAPINFOHEADER_T, biYPelsPerMeter, 28),
                  FIELD(ZOLVDMX_BITMAPINFOHEADER_T, biClrUsed, 32),
                  FIELD(ZOLVDMX_BITMAPINFOHEADER_T, biClrImportant, 36)});

    // Packed to 2: nSamplesPerSec sits at 4 and the record ends at 18, with
    // no padding after cbSize.
    ExpectLayout("ZOLVDMX_WAVEFORMATEX_T", sizeof(ZOLVDMX_WAVEFORMATEX_T), 18,
                 {FIELD(ZOLVDMX_WAVEFORMATEX_T, wFormatTag, 0),
                  FIELD(ZOLVDMX_WAVEFORMATEX_T, nChannels, 2),
                  FIELD(ZOLVDMX_WAVEFORMATEX_T, nSamplesPerSec, 4),
                  FIELD(ZOLVDMX_WAVEFORMATEX_T, nAvgBytesPerSec, 8),
                  FIELD(ZOLVDMX_WAVEFORMATEX_T, nBlockAlign, 12),
                  FIELD(ZOLVDMX_WAVEFORMATEX_T, wBitsPerSample, 14),
                  FIELD(ZOLVDMX_WAVEFORMATEX_T, cbSize, 16)});

    ExpectLayout("ZOLVDMX_VIDEO_EXTRA_T", sizeof(ZOLVDMX_VIDEO_EXTRA_T), 20,
                 {FIELD(ZOLVDMX_VIDEO_EXTRA_T, displayWidth, 0),
                  FIELD(ZOLVDMX_VIDEO_EXTRA_T, displayHeight, 4),
                  FIELD(ZOLVDMX_VIDEO_EXTRA_T, zero, 8),
                  FIELD(ZOLVDMX_VIDEO_EXTRA_T, unused, 12)});
}

TEST(RecordLayout, PointerRecordsMatchTheDeviceWith32BitPointers)
{
    if (sizeof(void*) != 4) {
        GTEST_SKIP() << "the format, sample and callback records hold pointers; "
                        "their layout is fixed for 32-bit targets only";
    }

    // The 64-bit duration falls on an 8-byte boundary, leaving a gap at 20.
    ExpectLayout("ZOLVDMX_MEDIA_FORMAT_T", sizeof(ZOLVDMX_MEDIA_FORMAT_T), 72,
                 {FIELD(ZOLVDMX_MEDIA_FORMAT_T, codec, 0),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, mediaType, 4),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, header, 8),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, codecPrivateSize, 12),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, codecPrivate, 16),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, alignment1, 20),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, duration, 24),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, maxSampleSize, 32),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, bitRate, 36),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, frameRate, 40),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, seekable, 44),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, fixedOne1, 48),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, fixedOne2, 52),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, configSize, 56),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, config, 60),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, videoExtra, 64),
                  FIELD(ZOLVDMX_MEDIA_FORMAT_T, alignment2, 68)});

    ExpectLayout("ZOLVDMX_MEDIA_SAMPLE_T", sizeof(ZOLVDMX_MEDIA_SAMPLE_T), 40,
                 {FIELD(ZOLVDMX_MEDIA_SAMPLE_T, reserved1, 0),
                  FIELD(ZOLVDMX_MEDIA_SAMPLE_T, buffer, 4),
                  FIELD(ZOLVDMX_MEDIA_SAMPLE_T, reserved2, 8),
                  FIELD(ZOLVDMX_MEDIA_SAMPLE_T, reserved3, 12),
                  FIELD(ZOLVDMX_MEDIA_SAMPLE_T, startTime, 16),
                  FIELD(ZOLVDMX_MEDIA_SAMPLE_T, endTime, 24),
                  FIELD(ZOLVDMX_MEDIA_SAMPLE_T, syncPoint, 32),
                  FIELD(ZOLVDMX_MEDIA_SAMPLE_T, size, 36)});

    // The unused fifth entry keeps tell and seek in their places.
    ExpectLayout("_ZOLVDMX_READER_CALLBACK_T", sizeof(_ZOLVDMX_READER_CALLBACK_T), 28,
                 {FIELD(_ZOLVDMX_READER_CALLBACK_T, open, 0),
                  FIELD(_ZOLVDMX_READER_CALLBACK_T, close, 4),
                  FIELD(_ZOLVDMX_READER_CALLBACK_T, length, 8),
                  FIELD(_ZOLVDMX_READER_CALLBACK_T, read, 12),
                  FIELD(_ZOLVDMX_READER_CALLBACK_T, spare, 16),
                  FIELD(_ZOLVDMX_READER_CALLBACK_T, tell, 20),
                  FIELD(_ZOLVDMX_READER_CALLBACK_T, seek, 24)});
}
