// Opus and Vorbis in Ogg: the codec's header packets, then a page per frame
// whose granule position is the frame's end in samples, which tells a
// player the time of every page and how much of the last frame to play.
#include <algorithm>
#include <cstring>
#include <vector>

#include "StreamWriter.h"
#include "ToolError.h"

namespace {

using Packet = std::vector<unsigned char>;

constexpr size_t kPageHeaderBytes = 27;
constexpr size_t kCrcOffset = 22;
constexpr size_t kMaxSegments = 255;
constexpr size_t kSegmentBytes = 255;
constexpr unsigned char kContinuedPacket = 0x01;
constexpr unsigned char kFirstPage = 0x02;
constexpr unsigned char kLastPage = 0x04;
// A file holds one logical stream; any serial number will do.
constexpr uint32_t kSerialNumber = 0x6D6B7664;
// The granule position of a page on which no packet ends.
constexpr uint64_t kNoGranule = ~uint64_t{0};

constexpr uint32_t kOpusRate = 48000; // Opus granules count 48 kHz samples whatever the input rate
constexpr int64_t kUnitsPerSecond = 10000000;

// The page checksum: CRC-32 with polynomial 0x04C11DB7, no reflection, no
// initial or final inversion.
uint32_t UpdateCrc(uint32_t crc, const unsigned char* data, size_t size)
{
    static const std::vector<uint32_t> table = [] {
        std::vector<uint32_t> entries(256);
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t value = i << 24;
            for (int bit = 0; bit < 8; ++bit) {
                value = (value & 0x80000000u) != 0 ? (value << 1) ^ 0x04C11DB7u : value << 1;
            }
            entries[i] = value;
        }
        return entries;
    }();
    for (size_t i = 0; i < size; ++i) {
        crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFFu];
    }
    return crc;
}

// Cuts packets into pages. A packet ends with a lacing value below 255, so
// one of a multiple of 255 bytes ends with a 0; a packet of more than 254
// full segments goes on over further pages.
class OggPager {
public:
    explicit OggPager(OutputFile& output) : output(output) {}

    void WritePacket(const Packet& packet, uint64_t granule, bool lastPacket)
    {
        size_t lacingValues = packet.size() / kSegmentBytes + 1;
        size_t laced = 0;
        size_t offset = 0;
        while (laced < lacingValues) {
            size_t count = std::min(lacingValues - laced, kMaxSegments);
            bool ends = laced + count == lacingValues;
            unsigned char header[kPageHeaderBytes + kMaxSegments] = {'O', 'g', 'g', 'S'};
            header[5] = static_cast<unsigned char>((laced > 0 ? kContinuedPacket : 0) |
                                                   (sequence == 0 ? kFirstPage : 0) |
                                                   (ends && lastPacket ? kLastPage : 0));
            StoreLe64(header + 6, ends ? granule : kNoGranule);
            StoreLe32(header + 14, kSerialNumber);
            StoreLe32(header + 18, sequence++);
            header[26] = static_cast<unsigned char>(count);
            size_t bodyBytes = 0;
            for (size_t i = 0; i < count; ++i) {
                bool final = laced + i + 1 == lacingValues;
                header[kPageHeaderBytes + i] =
                    static_cast<unsigned char>(final ? packet.size() % kSegmentBytes : kSegmentBytes);
                bodyBytes += header[kPageHeaderBytes + i];
            }
            size_t headerBytes = kPageHeaderBytes + count;
            uint32_t crc = UpdateCrc(UpdateCrc(0, header, headerBytes), packet.data() + offset, bodyBytes);
            StoreLe32(header + kCrcOffset, crc);
            output.Write(header, headerBytes);
            output.Write(packet.data() + offset, bodyBytes);
            laced += count;
            offset += bodyBytes;
        }
    }

private:
    OutputFile& output;
    uint32_t sequence = 0;
};

// Each packet on pages of its own (which the header packets of both codecs
// need, and frames allow), held back by one so that the last page gets the
// end-of-stream mark.
class OggWriter : public StreamWriter {
public:
    OggWriter(OutputFile& output, const std::vector<Packet>& headers, uint32_t rate) : pager(output), rate(rate)
    {
        for (const Packet& header : headers) {
            Queue(header, 0);
        }
    }

    void Write(const TrackSample& sample) override
    {
        granule = std::max(granule, SampleCount(sample.record.endTime));
        Queue(Packet(sample.Bytes(), sample.Bytes() + sample.Size()), granule);
    }

    void Finish() override
    {
        if (havePending) {
            pager.WritePacket(pending, pendingGranule, true);
        }
    }

private:
    void Queue(Packet packet, uint64_t packetGranule)
    {
        if (havePending) {
            pager.WritePacket(pending, pendingGranule, false);
        }
        pending = std::move(packet);
        pendingGranule = packetGranule;
        havePending = true;
    }

    // Samples from the start of the stream to a time, to the nearest.
    uint64_t SampleCount(int64_t time) const
    {
        if (time <= 0) {
            return 0;
        }
        uint64_t units = static_cast<uint64_t>(time);
        uint64_t second = kUnitsPerSecond;
        return units / second * rate + (units % second * rate + second / 2) / second;
    }

    OggPager pager;
    uint32_t rate;
    uint64_t granule = 0;
    Packet pending;
    uint64_t pendingGranule = 0;
    bool havePending = false;
};

Packet PrivateData(const TrackInfo& track)
{
    const ZOLVDMX_MEDIA_FORMAT_T& format = track.format;
    return format.codecPrivate != nullptr && format.codecPrivateSize > 0
               ? Packet(format.codecPrivate, format.codecPrivate + format.codecPrivateSize)
               : Packet();
}

bool StartsWith(const Packet& packet, size_t offset, const char* text)
{
    size_t length = std::strlen(text);
    return packet.size() >= offset + length && std::memcmp(packet.data() + offset, text, length) == 0;
}

constexpr size_t kOpusHeadBytes = 19;

// OpusHead as stored, and an OpusTags packet, which Ogg Opus requires and
// Matroska leaves out: the vendor string and no comments.
std::vector<Packet> OpusHeaders(const TrackInfo& track, const std::string& where)
{
    Packet head = PrivateData(track);
    if (head.size() < kOpusHeadBytes || !StartsWith(head, 0, "OpusHead")) {
        throw ToolError(kExitUnsupportedTrack, where + "Opus track without its OpusHead header");
    }
    static const char kVendor[] = "mkvdemux";
    Packet tags(8 + 4 + sizeof kVendor - 1 + 4);
    std::memcpy(tags.data(), "OpusTags", 8);
    StoreLe32(tags.data() + 8, sizeof kVendor - 1);
    std::memcpy(tags.data() + 12, kVendor, sizeof kVendor - 1);
    StoreLe32(tags.data() + 12 + sizeof kVendor - 1, 0);
    return {head, tags};
}

constexpr size_t kVorbisIdBytes = 30;
constexpr size_t kVorbisRateOffset = 12;

// The identification, comment and setup packets, which the codec private
// data holds Xiph-laced: the packet count less one, the sizes of all but
// the last packet (each a run of 255s and a final byte below 255), then the
// packets.
std::vector<Packet> VorbisHeaders(const TrackInfo& track, const std::string& where, uint32_t& rate)
{
    Packet lacing = PrivateData(track);
    std::vector<Packet> packets;
    if (!lacing.empty() && lacing[0] == 2) {
        size_t position = 1;
        size_t sizes[2] = {0, 0};
        for (size_t& size : sizes) {
            while (position < lacing.size() && lacing[position] == 0xFF) {
                size += lacing[position++];
            }
            size += position < lacing.size() ? lacing[position++] : 0;
        }
        if (position <= lacing.size() && sizes[0] + sizes[1] <= lacing.size() - position) {
            auto first = lacing.begin() + static_cast<std::ptrdiff_t>(position);
            auto second = first + static_cast<std::ptrdiff_t>(sizes[0]);
            auto third = second + static_cast<std::ptrdiff_t>(sizes[1]);
            packets = {Packet(first, second), Packet(second, third), Packet(third, lacing.end())};
        }
    }
    // Each opens with its type (1, 3, 5) and "vorbis".
    if (packets.size() != 3 || packets[0].size() < kVorbisIdBytes || packets[0][0] != 1 ||
        !StartsWith(packets[0], 1, "vorbis") || packets[1].empty() || packets[1][0] != 3 ||
        !StartsWith(packets[1], 1, "vorbis") || packets[2].empty() || packets[2][0] != 5 ||
        !StartsWith(packets[2], 1, "vorbis")) {
        throw ToolError(kExitUnsupportedTrack, where + "Vorbis track without its three header packets");
    }
    const unsigned char* field = packets[0].data() + kVorbisRateOffset;
    rate = static_cast<uint32_t>(field[0]) | static_cast<uint32_t>(field[1]) << 8 |
           static_cast<uint32_t>(field[2]) << 16 | static_cast<uint32_t>(field[3]) << 24;
    return packets;
}

} // namespace

std::unique_ptr<StreamWriter> MakeOggWriter(const TrackInfo& track, OutputFile& output, const std::string& where)
{
    if (track.form == StreamForm::OggOpus) {
        return std::make_unique<OggWriter>(output, OpusHeaders(track, where), kOpusRate);
    }
    uint32_t rate = 0;
    std::vector<Packet> headers = VorbisHeaders(track, where, rate);
    return std::make_unique<OggWriter>(output, headers, rate);
}
