// The checks the element fuzz target makes on every input, shared with the
// program that replays its reproducers under ctest.
#ifndef MKV_FUZZ_ELEMENTCHECKS_H
#define MKV_FUZZ_ELEMENTCHECKS_H

#include <cstddef>
#include <cstdint>

namespace fuzzcheck {

// Runs the input through the element layer alone, in memory: element headers
// one after another (as a master's child loop reads them), variable-length
// integers at every offset, the value types over a payload whose size the
// first byte gives, and the rest as a block payload, split whole and from a
// prefix as long as the first byte says. Aborts, after one line on stderr,
// when a result breaks the layer's rules (bytes consumed beyond the input,
// a peek that moves or disagrees, frames outside the payload or overlapping,
// a split from the lace header alone that differs from the whole one).
void CheckElements(const uint8_t* data, size_t size);

} // namespace fuzzcheck

#endif
