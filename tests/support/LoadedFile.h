// A handle loaded over an in-memory host through the C interface, as a host drives it: every answer is
// checked against what a host may be given, the library's two lines are kept out of the test output, and
// every host handle must be closed once the handle is destroyed.
#ifndef MKV_TESTS_SUPPORT_LOADEDFILE_H
#define MKV_TESTS_SUPPORT_LOADEDFILE_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "MemoryReader.h"

using Bytes = std::vector<uint8_t>;

struct Sample {
    uint32_t status = 0;
    int64_t start = 0, end = 0;
    uint32_t sync = 0;
    Bytes bytes;
};

// Sends standard output to /dev/null while it lives: cheaper than capturing it when thousands of handles
// are loaded and destroyed.
class QuietStdout {
public:
    QuietStdout()
    {
        std::fflush(stdout);
        saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved;
};

class LoadedFile {
public:
    explicit LoadedFile(MemoryReader reader) : host(std::move(reader))
    {
        host.logging = false;
        EXPECT_EQ(API_ZOLVDMX_Create(&handle, host.Callbacks()), ZOLVDMX_OK);
        {
            QuietStdout quiet;
            loadStatus = API_ZOLVDMX_Load(handle, host.Name());
        }
        EXPECT_TRUE(loadStatus == ZOLVDMX_OK || loadStatus == ZOLVDMX_E_FAIL) << loadStatus;
    }
    explicit LoadedFile(Bytes bytes) : LoadedFile(MemoryReader(std::move(bytes))) {}
    ~LoadedFile()
    {
        {
            QuietStdout quiet;
            EXPECT_EQ(API_ZOLVDMX_Destroy(handle), ZOLVDMX_OK);
        }
        EXPECT_EQ(host.openHandles, 0) << "host handles left open";
    }

    int32_t Tracks() const { return API_ZOLVDMX_GetNumTracks(handle); }
    int32_t Type(int32_t track) const { return API_ZOLVDMX_GetTrackType(handle, track); }
    ZOLVDMX_MEDIA_FORMAT_T Format(int32_t track) const
    {
        ZOLVDMX_MEDIA_FORMAT_T format;
        std::memset(&format, 0, sizeof format);
        API_ZOLVDMX_GetMediaFormat(handle, track, &format);
        return format;
    }

    // One request into a buffer of exactly `size` bytes (the track's maxSampleSize by default), so that
    // the sanitizer sees a write past it.
    Sample Next(int32_t track, size_t size = 0)
    {
        size = size != 0 ? size : std::max<size_t>(Format(track).maxSampleSize, 1);
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]);
        std::memset(buffer.get(), 0xEE, size); // so that bytes left unwritten show
        ZOLVDMX_MEDIA_SAMPLE_T record;
        std::memset(&record, 0xA5, sizeof record);
        record.buffer = buffer.get();
        Sample s{API_ZOLVDMX_GetNextMediaSample(handle, track, &record), record.startTime, record.endTime,
                 record.syncPoint, {}};
        // Audio and video tracks deliver, end or fail; other tracks deliver nothing.
        if (Type(track) == ZOLVDMX_TRACK_VIDEO || Type(track) == ZOLVDMX_TRACK_AUDIO) {
            EXPECT_TRUE(s.status <= ZOLVDMX_END_OF_TRACK || s.status == ZOLVDMX_E_FAIL) << s.status;
        } else {
            EXPECT_EQ(s.status, ZOLVDMX_E_UNSUPPORTED);
        }
        EXPECT_EQ(record.reserved2, 0u);
        if (s.status == ZOLVDMX_OK) {
            EXPECT_TRUE(record.size >= 0 && static_cast<size_t>(record.size) <= size) << record.size;
            EXPECT_GE(s.end, s.start) << "a frame ends before it starts";
            s.bytes.assign(buffer.get(), buffer.get() + std::clamp<int64_t>(record.size, 0, size));
        }
        return s;
    }

    // Every sample until a request answers neither 0 nor a failure.
    std::vector<Sample> All(int32_t track)
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

    uint32_t Seek(int32_t track, int64_t time, int64_t& result)
    {
        const uint32_t status = API_ZOLVDMX_Seek(handle, track, time, &result);
        EXPECT_TRUE(status == ZOLVDMX_OK || status == ZOLVDMX_E_FAIL) << status;
        return status;
    }

    MemoryReader host; // its call log off
    ZOLVDMX_HANDLE_T* handle = nullptr;
    uint32_t loadStatus = 0;
};

// Bytes from hex digits; spaces only separate fields for the reader.
inline Bytes Hex(const std::string& text)
{
    Bytes bytes;
    for (size_t i = 0; i < text.size(); i += text[i] == ' ' ? 1 : 2) {
        if (text[i] != ' ') {
            bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        }
    }
    return bytes;
}

// `count` bytes at p (none for a null pointer).
inline Bytes At(const void* p, int64_t count)
{
    const auto* bytes = static_cast<const uint8_t*>(p);
    return bytes == nullptr ? Bytes{} : Bytes(bytes, bytes + count);
}

#endif
