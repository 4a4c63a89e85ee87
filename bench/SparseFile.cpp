// Stored headers and generated payloads of a synthetic file.
#include "SparseFile.h"

#include <algorithm>
#include <cstring>

void SparseFile::Put(const Bytes& bytes)
{
    if (bytes.empty()) {
        return;
    }
    auto length = static_cast<int64_t>(bytes.size());
    if (!pieces.empty() && pieces.back().stored >= 0 &&
        pieces.back().stored + pieces.back().length == static_cast<int64_t>(storage.size())) {
        pieces.back().length += length;
    } else {
        pieces.push_back({size, length, static_cast<int64_t>(storage.size())});
    }
    storage.insert(storage.end(), bytes.begin(), bytes.end());
    size += length;
}

void SparseFile::Fill(uint64_t count)
{
    if (count == 0) {
        return;
    }
    pieces.push_back({size, static_cast<int64_t>(count), -1});
    size += static_cast<int64_t>(count);
}

void SparseFile::Patch(int64_t offset, const Bytes& bytes)
{
    for (size_t k = 0; k < bytes.size(); ++k) {
        int64_t at = offset + static_cast<int64_t>(k);
        auto piece = std::upper_bound(pieces.begin(), pieces.end(), at,
                                      [](int64_t value, const Piece& p) { return value < p.start; });
        --piece;
        storage[static_cast<size_t>(piece->stored + at - piece->start)] = bytes[k];
    }
}

namespace {

// 1 MiB of pseudo-random bytes; each mebibyte of payload is this table
// with its bytes offset by the mebibyte's number.
constexpr int64_t kTableSize = 1 << 20;

const std::vector<uint8_t>& Table()
{
    static const std::vector<uint8_t> table = [] {
        std::vector<uint8_t> bytes(static_cast<size_t>(kTableSize));
        uint64_t x = 0x9E3779B97F4A7C15ull;
        for (uint8_t& b : bytes) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            b = static_cast<uint8_t>(x >> 24);
        }
        return bytes;
    }();
    return table;
}

} // namespace

uint8_t SparseFile::Generated(int64_t offset)
{
    return static_cast<uint8_t>(Table()[static_cast<size_t>(offset % kTableSize)] + offset / kTableSize);
}

int32_t SparseFile::Read(int64_t position, int32_t count, uint8_t* dest) const
{
    if (position < 0 || position >= size || count <= 0) {
        return 0;
    }
    int64_t end = std::min<int64_t>(size, position + count);
    auto piece = std::upper_bound(pieces.begin(), pieces.end(), position,
                                  [](int64_t value, const Piece& p) { return value < p.start; });
    --piece;
    int64_t at = position;
    while (at < end) {
        int64_t stop = std::min(end, piece->start + piece->length);
        if (piece->stored >= 0) {
            std::memcpy(dest, storage.data() + piece->stored + (at - piece->start), static_cast<size_t>(stop - at));
            dest += stop - at;
        } else {
            const std::vector<uint8_t>& table = Table();
            for (int64_t k = at; k < stop;) {
                const int64_t inTable = k % kTableSize;
                const int64_t run = std::min(stop - k, kTableSize - inTable);
                const auto shift = static_cast<uint8_t>(k / kTableSize);
                for (int64_t j = 0; j < run; ++j) {
                    dest[j] = static_cast<uint8_t>(table[static_cast<size_t>(inTable + j)] + shift);
                }
                dest += run;
                k += run;
            }
        }
        at = stop;
        ++piece;
    }
    return static_cast<int32_t>(end - position);
}
