#include "platform/core/Memory.h"

#include <cstdlib> // the C library's own headers say whether it is glibc

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace platform {

void returnLargeBlocksWhenFreed()
{
#ifdef __GLIBC__
    // Setting the size also keeps the allocator from changing it.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
#endif
}

} // namespace platform
