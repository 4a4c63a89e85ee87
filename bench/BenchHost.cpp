// Counting host over a synthetic file, with a model of stdio buffering.
#include "BenchHost.h"

#include <algorithm>

namespace {

constexpr int64_t kStdioBuffer = 1 << 20;

} // namespace

BenchHost::BenchHost(std::shared_ptr<const SparseFile> source, int32_t maxReadSize)
    : file(std::move(source)), maxRead(maxReadSize)
{
}

_ZOLVDMX_READER_CALLBACK_T BenchHost::Callbacks() const
{
    return {&BenchHost::Open, &BenchHost::Close, &BenchHost::Length, &BenchHost::Read,
            nullptr, &BenchHost::Tell, &BenchHost::Seek};
}

void* BenchHost::Open(unsigned char* name)
{
    auto* self = reinterpret_cast<BenchHost*>(name);
    self->counts.open += 1;
    self->handles.push_back(std::make_unique<Handle>());
    self->handles.back()->owner = self;
    return self->handles.back().get();
}

int32_t BenchHost::Close(void* handle)
{
    static_cast<Handle*>(handle)->owner->counts.close += 1;
    return 0;
}

int64_t BenchHost::Length(void* handle)
{
    BenchHost& self = *static_cast<Handle*>(handle)->owner;
    self.counts.length += 1;
    return self.file->Size();
}

int32_t BenchHost::Read(void* handle, int32_t count, unsigned char* dest)
{
    Handle& h = *static_cast<Handle*>(handle);
    BenchHost& self = *h.owner;
    self.counts.read += 1;
    int32_t wanted = self.maxRead > 0 ? std::min(count, self.maxRead) : count;
    int32_t n = self.file->Read(h.position, wanted, dest);
    // stdio: bytes outside the buffer are fetched by refilling it from the
    // position, or read straight through when the rest is a buffer or more.
    int64_t at = h.position;
    int64_t end = h.position + n;
    if (at >= h.bufferStart && at < h.bufferEnd) {
        at = std::min(end, h.bufferEnd);
    }
    while (at < end) {
        if (end - at >= kStdioBuffer) {
            int64_t direct = (end - at) / kStdioBuffer * kStdioBuffer;
            self.counts.stdioBytes += direct;
            at += direct;
            continue;
        }
        h.bufferStart = at;
        h.bufferEnd = std::min(at + kStdioBuffer, self.file->Size());
        self.counts.stdioBytes += h.bufferEnd - h.bufferStart;
        at = std::min(end, h.bufferEnd);
    }
    h.position += n;
    self.counts.bytes += n;
    return n;
}

int64_t BenchHost::Tell(void* handle)
{
    Handle& h = *static_cast<Handle*>(handle);
    h.owner->counts.tell += 1;
    return h.position;
}

int32_t BenchHost::Seek(void* handle, int64_t offset, int32_t whence)
{
    Handle& h = *static_cast<Handle*>(handle);
    BenchHost& self = *h.owner;
    self.counts.seek += 1;
    int64_t base = whence == ZOLVDMX_SEEK_SET ? 0 : whence == ZOLVDMX_SEEK_CUR ? h.position : self.file->Size();
    int64_t target = std::max<int64_t>(0, base + offset);
    if (target != h.position) {
        self.counts.movingSeeks += 1;
        self.counts.backwardSeeks += target < h.position ? 1 : 0;
        if (target < h.bufferStart || target >= h.bufferEnd) {
            h.bufferStart = h.bufferEnd = 0;
        }
    }
    h.position = target;
    return 0;
}
