// Byte buffers of the library (malloc, calloc, realloc), and the test mode
// that makes the n-th allocation fail, whether a byte buffer or, through a
// test program's own operator new, an object.
#ifndef MKV_STREAM_ALLOCATION_H
#define MKV_STREAM_ALLOCATION_H

#include <cstddef>
#include <cstdint>

void* AllocateBytes(size_t size);
void* AllocateZeroedBytes(size_t count, size_t size);
void* ReallocateBytes(void* bytes, size_t size);

namespace AllocationFaults {
// Counts one allocation; true when it is the one that is to fail.
bool Fail();
// From now on, the n-th allocation fails (n >= 1) and every later one
// succeeds; a negative n only counts; 0 ends the test mode. Counting starts
// over.
void FailAt(int64_t n);
// Allocations counted since the last FailAt.
int64_t Count();
} // namespace AllocationFaults

#endif
