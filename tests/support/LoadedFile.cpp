// Loaded handle for tests, and an MD5 of sample bytes.
#include "LoadedFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

LoadedFile::LoadedFile(std::vector<uint8_t> bytes, bool logCalls) : host(std::move(bytes))
{
    host.logging = logCalls;
    EXPECT_EQ(API_ZOLVDMX_Create(&handle, host.Callbacks()), ZOLVDMX_OK);
    testing::internal::CaptureStdout(); // the load-time line
    loadStatus = API_ZOLVDMX_Load(handle, host.Name());
    testing::internal::GetCapturedStdout();
}

LoadedFile::~LoadedFile()
{
    testing::internal::CaptureStdout(); // the destruction line
    API_ZOLVDMX_Destroy(handle);
    testing::internal::GetCapturedStdout();
}

int32_t LoadedFile::Tracks() const
{
    return API_ZOLVDMX_GetNumTracks(handle);
}

ZOLVDMX_MEDIA_FORMAT_T LoadedFile::Format(int32_t track) const
{
    ZOLVDMX_MEDIA_FORMAT_T format;
    std::memset(&format, 0, sizeof format);
    API_ZOLVDMX_GetMediaFormat(handle, track, &format);
    return format;
}

Sample LoadedFile::Next(int32_t track, size_t bufferSize)
{
    if (bufferSize == 0) {
        bufferSize = std::max<size_t>(Format(track).maxSampleSize, 1);
    }
    // An allocation of exactly the size asked for, so that the sanitizer
    // catches a write past it; kept while the size stays the same.
    if (bufferSize != sampleBufferSize) {
        sampleBuffer = std::make_unique<uint8_t[]>(bufferSize);
        sampleBufferSize = bufferSize;
    }
    uint8_t* buffer = sampleBuffer.get();
    ZOLVDMX_MEDIA_SAMPLE_T record;
    std::memset(&record, 0xA5, sizeof record);
    record.buffer = buffer;
    record.size = 0;
    Sample sample;
    sample.status = API_ZOLVDMX_GetNextMediaSample(handle, track, &record);
    sample.start = record.startTime;
    sample.end = record.endTime;
    sample.sync = record.syncPoint;
    sample.reserved2 = record.reserved2;
    if (sample.status == ZOLVDMX_OK) {
        sample.bytes.assign(buffer, buffer + record.size);
    }
    return sample;
}

std::vector<Sample> LoadedFile::All(int32_t track, size_t limit)
{
    std::vector<Sample> samples;
    while (samples.size() < limit) {
        Sample sample = Next(track);
        if (sample.status == ZOLVDMX_END_OF_TRACK) {
            break;
        }
        samples.push_back(sample);
    }
    return samples;
}

uint32_t LoadedFile::Seek(int32_t track, int64_t time, int64_t& result)
{
    return API_ZOLVDMX_Seek(handle, track, time, &result);
}
