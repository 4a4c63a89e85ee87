// Fuzz target for the element layer alone (ElementChecks): thousands of
// inputs a second, since nothing is loaded or played.
// Run as docs/fuzzing.md describes, with the dictionary and the seeds.
#include "ElementChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzcheck::CheckElements(data, size);
    return 0;
}
