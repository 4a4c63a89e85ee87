// The checks the demux fuzz target makes on every input, shared with the
// program that replays the seed and regression files under ctest.
#ifndef MKV_FUZZ_DEMUXCHECKS_H
#define MKV_FUZZ_DEMUXCHECKS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzcheck {

// What one operation cost the host: calls of any callback, bytes delivered.
struct OperationCost {
    std::string operation; // "load", "play track 1", "seek track 0 to 15000000"
    int64_t calls = 0;
    int64_t bytes = 0;
    int64_t microseconds = 0; // processor time of the calling thread
    int64_t requests = 0;     // sample requests
};

// Host calls and bytes one operation may cost on an input of `size` bytes.
// Linear behaviour stays far below: a load, a whole-track play or a seek
// reads each byte a few times at most and makes a few calls per element of
// two bytes or more. A path that revisits earlier elements for each new one
// (quadratic) passes them within a few hundred elements.
int64_t CallBudget(size_t size);
int64_t ByteBudget(size_t size);
// Processor time, in microseconds, one operation may take on an input of
// `size` bytes and `elements` elements when it makes `requests` sample
// requests. Work is linear in the elements (a run of tiny elements costs
// most per byte), in the frames delivered (a block of a few bytes can lace
// 256 frames) and in the bytes copied. The library reads an input of
// fuzzing size in a handful of host calls and then serves every byte from
// memory, so a path whose work grows faster than the input shows only here.
int64_t TimeBudget(size_t size, int64_t elements, int64_t requests);

// The measure of work the time budget uses: element headers in the input,
// counted at every level where a payload reads as elements, whatever the
// IDs, plus every other place a top-level ID occurs, since the library looks
// for those anywhere after a damaged element. Counting too many only loosens
// the budget; counting too few would flag honest work.
int64_t CountElements(const uint8_t* data, size_t size);

// Loads the input through the public interface as a host would, reads every
// track to its end and seeks each track to a few times. Aborts, after one
// line on stderr naming the operation, when any answer is one the interface
// does not document, a sample breaks its record's rules (size within the
// buffer the host was told to provide, end not before start), delivery never
// ends, or an operation costs more than the budgets above (the time budget
// only when `timed`). `costs`, when given, receives each operation's cost.
void CheckDemux(const uint8_t* data, size_t size, bool timed, std::vector<OperationCost>* costs = nullptr);

} // namespace fuzzcheck

#endif
