// Fuzz target for the whole library through its C interface: each input is
// loaded as a file, the first tracks read to their end and seeked, under the
// checks of DemuxChecks (documented results only, samples within their
// buffer, end not before start, host calls, bytes and processor time per
// operation within a budget). The structure-aware mutator keeps most mutants
// well-formed enough to play. docs/fuzzing.md says how to run it.
#include <cstdio>
#include <cstring>

#include "DemuxChecks.h"
#include "MatroskaMutator.h"

// The library allocates its read windows afresh for every input; with the
// default 256 MB quarantine each allocation lands on fresh pages and the
// page faults halve the executions per second. 16 MB still holds the blocks
// freed by the last few inputs.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=16:malloc_context_size=10";
}

namespace {

// --untimed (libFuzzer leaves flags that start with -- to the target) turns
// the processor time budget off, for runs that must not stop at a slow path
// already known, such as the short one in CI.
bool timed = true;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    for (int k = 1; k < *argc; ++k) {
        timed = timed && std::strcmp((*argv)[k], "--untimed") != 0;
    }
    // The library's load and destruction lines would flood the fuzzer's output.
    std::freopen("/dev/null", "w", stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzcheck::CheckDemux(data, size, timed);
    return 0;
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed)
{
    return fuzzmutate::Mutate(data, size, maxSize, seed);
}

extern "C" size_t LLVMFuzzerCustomCrossOver(const uint8_t* first, size_t firstSize, const uint8_t* second,
                                            size_t secondSize, uint8_t* out, size_t maxOutSize, unsigned int seed)
{
    return fuzzmutate::CrossOver(first, firstSize, second, secondSize, out, maxOutSize, seed);
}
