// Loaded handle for tests.
#include "LoadedFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

LoadedFile::LoadedFile(MemoryReader reader) : host(std::move(reader))
{
    host.logging = false;
    EXPECT_EQ(API_ZOLVDMX_Create(&handle, host.Callbacks()), ZOLVDMX_OK);
    testing::internal::CaptureStdout(); // the load-time line
    loadStatus = API_ZOLVDMX_Load(handle, host.Name());
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(loadStatus == ZOLVDMX_OK || loadStatus == ZOLVDMX_E_FAIL) << loadStatus;
}

LoadedFile::~LoadedFile()
{
    testing::internal::CaptureStdout(); // the destruction line
    EXPECT_EQ(API_ZOLVDMX_Destroy(handle), ZOLVDMX_OK);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(host.openHandles, 0) << "host handles left open";
}

ZOLVDMX_MEDIA_FORMAT_T LoadedFile::Format(int32_t track) const
{
    ZOLVDMX_MEDIA_FORMAT_T format;
    std::memset(&format, 0, sizeof format);
    API_ZOLVDMX_GetMediaFormat(handle, track, &format);
    return format;
}

Sample LoadedFile::Next(int32_t track, size_t size)
{
    size = size != 0 ? size : std::max<size_t>(Format(track).maxSampleSize, 1);
    if (size != bufferSize) {
        buffer = std::make_unique<uint8_t[]>(size);
        bufferSize = size;
    }
    ZOLVDMX_MEDIA_SAMPLE_T record;
    std::memset(&record, 0xA5, sizeof record);
    record.buffer = buffer.get();
    Sample sample;
    sample.status = API_ZOLVDMX_GetNextMediaSample(handle, track, &record);
    sample.start = record.startTime;
    sample.end = record.endTime;
    sample.sync = record.syncPoint;
    // Audio and video tracks deliver, end or fail; other tracks deliver nothing.
    if (Type(track) == ZOLVDMX_TRACK_VIDEO || Type(track) == ZOLVDMX_TRACK_AUDIO) {
        EXPECT_TRUE(sample.status <= ZOLVDMX_END_OF_TRACK || sample.status == ZOLVDMX_E_FAIL) << sample.status;
    } else {
        EXPECT_EQ(sample.status, ZOLVDMX_E_UNSUPPORTED);
    }
    EXPECT_EQ(record.reserved2, 0u);
    if (sample.status == ZOLVDMX_OK) {
        EXPECT_TRUE(record.size >= 0 && static_cast<size_t>(record.size) <= size) << record.size;
        EXPECT_GE(sample.end, sample.start) << "a frame ends before it starts";
        sample.bytes.assign(buffer.get(), buffer.get() + std::clamp<int64_t>(record.size, 0, size));
    }
    return sample;
}

std::vector<Sample> LoadedFile::All(int32_t track)
{
    std::vector<Sample> samples;
    for (Sample s = Next(track); s.status == ZOLVDMX_OK || s.status == ZOLVDMX_E_FAIL; s = Next(track)) {
        samples.push_back(std::move(s));
        if (samples.size() > host.bytes.size()) {
            ADD_FAILURE() << "more samples than the file has bytes: delivery does not end";
            break;
        }
    }
    return samples;
}

uint32_t LoadedFile::Seek(int32_t track, int64_t time, int64_t& result)
{
    uint32_t status = API_ZOLVDMX_Seek(handle, track, time, &result);
    EXPECT_TRUE(status == ZOLVDMX_OK || status == ZOLVDMX_E_FAIL) << status;
    return status;
}
