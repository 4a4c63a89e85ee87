// Loaded handle for tests, and an MD5 of sample bytes.
#include "LoadedFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

LoadedFile::LoadedFile(std::vector<uint8_t> bytes) : host(std::move(bytes))
{
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
    std::vector<uint8_t> buffer(bufferSize);
    ZOLVDMX_MEDIA_SAMPLE_T record;
    std::memset(&record, 0xA5, sizeof record);
    record.buffer = buffer.data();
    record.size = 0;
    Sample sample;
    sample.status = API_ZOLVDMX_GetNextMediaSample(handle, track, &record);
    sample.start = record.startTime;
    sample.end = record.endTime;
    sample.sync = record.syncPoint;
    sample.reserved2 = record.reserved2;
    if (sample.status == ZOLVDMX_OK) {
        sample.bytes.assign(buffer.begin(), buffer.begin() + record.size);
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

namespace {

// MD5 (RFC 1321), enough to compare sample bytes with expected hashes.
struct Md5 {
    uint32_t a0 = 0x67452301, b0 = 0xefcdab89, c0 = 0x98badcfe, d0 = 0x10325476;

    static uint32_t Rotate(uint32_t x, uint32_t c) { return (x << c) | (x >> (32 - c)); }

    void Block(const uint8_t* chunk)
    {
        static const uint32_t s[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                       5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                       4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                       6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
        static uint32_t k[64];
        static bool ready = false;
        if (!ready) {
            for (int i = 0; i < 64; ++i) {
                k[i] = static_cast<uint32_t>(static_cast<uint64_t>(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
            }
            ready = true;
        }
        uint32_t m[16];
        for (int i = 0; i < 16; ++i) {
            m[i] = static_cast<uint32_t>(chunk[i * 4]) | static_cast<uint32_t>(chunk[i * 4 + 1]) << 8 |
                   static_cast<uint32_t>(chunk[i * 4 + 2]) << 16 | static_cast<uint32_t>(chunk[i * 4 + 3]) << 24;
        }
        uint32_t a = a0, b = b0, c = c0, d = d0;
        for (uint32_t i = 0; i < 64; ++i) {
            uint32_t f, g;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            f = f + a + k[i] + m[g];
            a = d;
            d = c;
            c = b;
            b = b + Rotate(f, s[i]);
        }
        a0 += a;
        b0 += b;
        c0 += c;
        d0 += d;
    }
};

} // namespace

std::string Md5Hex(const std::vector<uint8_t>& bytes)
{
    Md5 md5;
    std::vector<uint8_t> message(bytes);
    uint64_t bits = static_cast<uint64_t>(bytes.size()) * 8;
    message.push_back(0x80);
    while (message.size() % 64 != 56) {
        message.push_back(0);
    }
    for (int i = 0; i < 8; ++i) {
        message.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    }
    for (size_t offset = 0; offset < message.size(); offset += 64) {
        md5.Block(message.data() + offset);
    }
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (uint32_t word : {md5.a0, md5.b0, md5.c0, md5.d0}) {
        for (int i = 0; i < 4; ++i) {
            uint8_t byte = static_cast<uint8_t>(word >> (8 * i));
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 15]);
        }
    }
    return out;
}
