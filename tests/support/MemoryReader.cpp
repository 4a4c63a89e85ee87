// In-memory host reader for tests.
#include "MemoryReader.h"

#include <algorithm>
#include <cstring>

_ZOLVDMX_READER_CALLBACK_T MemoryReader::Callbacks() const
{
    return {&MemoryReader::Open, &MemoryReader::Close, &MemoryReader::Length, &MemoryReader::Read,
            nullptr, &MemoryReader::Tell, &MemoryReader::Seek};
}

MemoryReader::Handle& MemoryReader::Note(void* handle, int64_t Counts::*kind, const char* name,
                                         std::initializer_list<int64_t> arguments)
{
    Handle& h = *static_cast<Handle*>(handle);
    h.owner->calls.*kind += 1;
    if (h.owner->logging) {
        std::string entry = name + (" h" + std::to_string(h.number));
        for (int64_t argument : arguments) {
            entry += " " + std::to_string(argument);
        }
        h.owner->log.push_back(entry);
    }
    return h;
}

void* MemoryReader::Open(unsigned char* name)
{
    auto* self = reinterpret_cast<MemoryReader*>(name);
    self->log.push_back("open"); // even with logging off, so that a test sees any reopen
    self->calls.open += 1;
    if (self->failOpen || self->calls.open == self->failOpenOnCall) {
        return nullptr;
    }
    self->handles.push_back(std::make_unique<Handle>(Handle{self, static_cast<int>(self->handles.size()) + 1, 0}));
    self->openHandles += 1;
    return self->handles.back().get();
}

int32_t MemoryReader::Close(void* handle)
{
    Note(handle, &Counts::close, "close").owner->openHandles -= 1;
    return 0;
}

int64_t MemoryReader::Length(void* handle)
{
    MemoryReader& self = *Note(handle, &Counts::length, "length").owner;
    if (self.visibleSize >= 0 && self.calls.length > 1) {
        self.visibleSize += self.growth;
    }
    return self.unknownLength ? -1 : self.Size() + self.lengthError;
}

int32_t MemoryReader::Read(void* handle, int32_t count, unsigned char* dest)
{
    Handle& h = Note(handle, &Counts::read, "read", {count});
    MemoryReader& self = *h.owner;
    if (self.readReportsError || self.calls.read == self.failReadOnCall) {
        return self.readReportsError ? -1 : self.failedReadAnswer;
    }
    int64_t end = self.Size();
    end = self.failReadsFrom >= 0 ? std::min(end, self.failReadsFrom) : end;
    int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, end - h.position));
    n = self.maxReadSize >= 0 ? std::min<int64_t>(n, self.maxReadSize) : n;
    if (n > 0) {
        std::memcpy(dest, self.bytes.data() + h.position, static_cast<size_t>(n));
        h.position += n;
        self.bytesDelivered += n;
    }
    return static_cast<int32_t>(n) + self.readOverReports;
}

int64_t MemoryReader::Tell(void* handle)
{
    return Note(handle, &Counts::tell, "tell").position;
}

int32_t MemoryReader::Seek(void* handle, int64_t offset, int32_t whence)
{
    Handle& h = Note(handle, &Counts::seek, "seek", {offset, whence});
    if (h.owner->calls.seek == h.owner->failSeekOnCall) {
        return -1;
    }
    int64_t base = whence == 0 ? 0 : whence == 1 ? h.position : h.owner->Size();
    // A huge relative offset saturates instead of wrapping round to before the starting position.
    int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target)) {
        target = offset > 0 ? INT64_MAX : 0;
    }
    h.position = std::max<int64_t>(0, target);
    return 0;
}
