// Owner of a byte buffer obtained with malloc/realloc, released with free.
#ifndef MKV_EBML_MALLOCPTR_H
#define MKV_EBML_MALLOCPTR_H

#include <cstdlib>
#include <memory>

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

template <class T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

#endif
