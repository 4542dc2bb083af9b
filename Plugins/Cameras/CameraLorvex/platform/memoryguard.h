// memoryguard.h - reading frame memory that the SDK hands over, safely.
//
// The SDK passes a raw pointer with every frame. A driver fault can leave it
// pointing at memory that cannot be read; the frame path must then drop the
// frame with a warning instead of taking the host process down. One
// implementation per platform (memoryguard_posix.cpp, memoryguard_windows.cpp).
#ifndef MEMORYGUARD_H
#define MEMORYGUARD_H

#include <cstddef>

namespace lorvex {
namespace platform {

// True when the byte at `p` can be read.
bool isReadable(const void* p);

// Copies `n` bytes; false, with `dst` partly written, when reading `src`
// faulted. Costs what memcpy costs. Guard only the copy: never call it with a
// lock that a fault handler could need.
bool guardedCopy(void* dst, const void* src, std::size_t n);

} // namespace platform
} // namespace lorvex

#endif // MEMORYGUARD_H
