#include "platform/LargeMemory.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

void CommitMemory(void* data, std::size_t bytes)
{
#if defined(__linux__)
    constexpr std::size_t kWorthIt = std::size_t(8) << 20;
    const long page = ::sysconf(_SC_PAGESIZE);
    if (data == nullptr || bytes < kWorthIt || page <= 0)
        return;
    const auto mask = ~std::uintptr_t(page - 1);
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + std::uintptr_t(page) - 1) & mask;
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & mask;
    if (end <= begin)
        return;
    void* start = reinterpret_cast<void*>(begin);
    const std::size_t length = end - begin;
#if defined(MADV_HUGEPAGE)
    ::madvise(start, length, MADV_HUGEPAGE);
#endif
    // MADV_POPULATE_WRITE (Linux 5.14) faults every page in at once, writable; older kernels
    // refuse it and the pages come one fault at a time as before.
    constexpr int kPopulateWrite = 23;
    ::madvise(start, length, kPopulateWrite);
#else
    (void)data;
    (void)bytes;
#endif
}
