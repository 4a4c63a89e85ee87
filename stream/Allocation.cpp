// Byte buffers, with the allocation-failure test mode.
#include "Allocation.h"

#include <cstdlib>

namespace {

int64_t failAt = 0;
int64_t counted = 0;

} // namespace

bool AllocationFaults::Fail()
{
    // Outside the test mode nothing is written, so handles used from several
    // threads share no counter.
    if (failAt == 0) {
        return false;
    }
    ++counted;
    return failAt > 0 && counted == failAt;
}

void AllocationFaults::FailAt(int64_t n)
{
    failAt = n;
    counted = 0;
}

int64_t AllocationFaults::Count()
{
    return counted;
}

void* AllocateBytes(size_t size)
{
    return AllocationFaults::Fail() ? nullptr : std::malloc(size);
}

void* AllocateZeroedBytes(size_t count, size_t size)
{
    return AllocationFaults::Fail() ? nullptr : std::calloc(count, size);
}

void* ReallocateBytes(void* bytes, size_t size)
{
    return AllocationFaults::Fail() ? nullptr : std::realloc(bytes, size);
}
