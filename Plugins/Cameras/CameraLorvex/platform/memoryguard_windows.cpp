// Windows: IsBadReadPtr probes the first byte; the copy runs under a
// structured-exception guard where the compiler offers one (MSVC).
#include "memoryguard.h"

#include <cstring>
#include <windows.h>

namespace lorvex {
namespace platform {

bool isReadable(const void* p)
{
    return p && !IsBadReadPtr(p, 1);
}

#if defined(_MSC_VER)
bool guardedCopy(void* dst, const void* src, std::size_t n)
{
    __try {
        std::memcpy(dst, src, n);
    } __except (GetExceptionCode() == EXCEPTION_ACCESS_VIOLATION ? EXCEPTION_EXECUTE_HANDLER
                                                                 : EXCEPTION_CONTINUE_SEARCH) {
        return false;
    }
    return true;
}
#else
// Without structured exceptions the whole source range is probed first.
bool guardedCopy(void* dst, const void* src, std::size_t n)
{
    if (n && IsBadReadPtr(src, n))
        return false;
    std::memcpy(dst, src, n);
    return true;
}
#endif

} // namespace platform
} // namespace lorvex
