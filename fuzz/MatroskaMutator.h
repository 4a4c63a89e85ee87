// A structure-aware mutator for Matroska inputs: it reads the input as a
// tree of EBML elements where it can, changes the tree (values at their
// boundaries, sizes, IDs, order, repeated elements, block headers and
// lacing, time codes, inserted elements), and writes it back with the sizes
// of the enclosing masters fixed, and often with the cue and seek positions
// pointing at the elements they name, so that mutants still load, play and
// seek. Anything it cannot read is mutated byte by byte by libFuzzer.
#ifndef MKV_FUZZ_MATROSKAMUTATOR_H
#define MKV_FUZZ_MATROSKAMUTATOR_H

#include <cstddef>
#include <cstdint>

namespace fuzzmutate {

// Mutates data[0, size) in place into at most maxSize bytes; the new size.
size_t Mutate(uint8_t* data, size_t size, size_t maxSize, unsigned int seed);

// Writes into out (at most maxOutSize bytes) the first input with an element
// of the second one inserted or swapped in; the size written, 0 when the
// result would not fit.
size_t CrossOver(const uint8_t* first, size_t firstSize, const uint8_t* second, size_t secondSize, uint8_t* out,
                 size_t maxOutSize, unsigned int seed);

} // namespace fuzzmutate

#endif
