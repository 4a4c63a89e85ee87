// In-memory host reader for tests.
#include "MemoryReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

MemoryReader::MemoryReader(std::vector<uint8_t> data) : bytes(std::move(data)) {}

_ZOLVDMX_READER_CALLBACK_T MemoryReader::Callbacks() const
{
    _ZOLVDMX_READER_CALLBACK_T callbacks{};
    callbacks.open = &MemoryReader::Open;
    callbacks.close = &MemoryReader::Close;
    callbacks.length = &MemoryReader::Length;
    callbacks.read = &MemoryReader::Read;
    callbacks.spare = nullptr;
    callbacks.tell = &MemoryReader::Tell;
    callbacks.seek = &MemoryReader::Seek;
    return callbacks;
}

void MemoryReader::Note(const Handle& h, const std::string& what)
{
    log.push_back(what.substr(0, what.find(' ')) + " h" + std::to_string(h.number) +
                  (what.find(' ') == std::string::npos ? "" : what.substr(what.find(' '))));
}

void* MemoryReader::Open(unsigned char* name)
{
    auto* self = reinterpret_cast<MemoryReader*>(name);
    self->log.push_back("open");
    self->openCalls += 1;
    self->calls.open += 1;
    if (self->failOpen || self->openCalls == self->failOpenOnCall) {
        return nullptr;
    }
    self->handles.push_back(std::make_unique<Handle>(Handle{self, static_cast<int>(self->handles.size()) + 1, 0}));
    self->openHandles += 1;
    return self->handles.back().get();
}

int32_t MemoryReader::Close(void* handle)
{
    auto* h = static_cast<Handle*>(handle);
    h->owner->callCount += 1;
    h->owner->calls.close += 1;
    if (h->owner->logging) {
        h->owner->Note(*h, "close");
    }
    h->owner->openHandles -= 1;
    return 0;
}

int64_t MemoryReader::Length(void* handle)
{
    auto* h = static_cast<Handle*>(handle);
    h->owner->callCount += 1;
    h->owner->calls.length += 1;
    if (h->owner->logging) {
        h->owner->Note(*h, "length");
    }
    int64_t length = h->owner->lengthIsPosition ? h->position : static_cast<int64_t>(h->owner->bytes.size());
    return length + h->owner->lengthError;
}

int32_t MemoryReader::Read(void* handle, int32_t count, unsigned char* dest)
{
    auto* h = static_cast<Handle*>(handle);
    MemoryReader* self = h->owner;
    self->callCount += 1;
    self->calls.read += 1;
    if (self->logging) {
        self->Note(*h, "read " + std::to_string(count));
    }
    if (self->readReportsError) {
        return -1;
    }
    if (self->calls.read == self->failReadOnCall) {
        return self->failedReadAnswer;
    }
    int64_t end = static_cast<int64_t>(self->bytes.size());
    if (self->failReadsFrom >= 0) {
        end = std::min(end, self->failReadsFrom);
    }
    int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, end - h->position));
    if (self->maxReadSize >= 0) {
        n = std::min<int64_t>(n, self->maxReadSize);
    }
    if (n > 0) {
        std::memcpy(dest, self->bytes.data() + h->position, static_cast<size_t>(n));
        h->position += n;
        self->bytesDelivered += n;
    }
    return static_cast<int32_t>(n) + self->readOverReports;
}

int64_t MemoryReader::Tell(void* handle)
{
    auto* h = static_cast<Handle*>(handle);
    h->owner->callCount += 1;
    h->owner->calls.tell += 1;
    if (h->owner->logging) {
        h->owner->Note(*h, "tell");
    }
    return h->position;
}

int32_t MemoryReader::Seek(void* handle, int64_t offset, int32_t whence)
{
    auto* h = static_cast<Handle*>(handle);
    h->owner->callCount += 1;
    h->owner->calls.seek += 1;
    if (h->owner->logging) {
        h->owner->Note(*h, "seek " + std::to_string(offset) + " " + std::to_string(whence));
    }
    if (h->owner->calls.seek == h->owner->failSeekOnCall) {
        return -1;
    }
    int64_t base = whence == 0 ? 0 : whence == 1 ? h->position : static_cast<int64_t>(h->owner->bytes.size());
    // A huge relative offset saturates instead of wrapping round to a
    // position before the one the caller started from.
    int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target)) {
        target = offset > 0 ? INT64_MAX : 0;
    }
    h->position = std::max<int64_t>(0, target);
    return 0;
}
