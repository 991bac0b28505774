#include "platform/largebuffer.h"

#include <cstdint>

#if defined(Q_OS_LINUX)
#include <sys/mman.h>
#endif

void adviseLargeBuffer(void *data, qint64 bytes)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHugePage = 2 * 1024 * 1024;
    if (!data || bytes < qint64(2 * kHugePage))
        return;
    // madvise works on whole pages: take the huge pages that lie entirely
    // inside the buffer.
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + std::uintptr_t(bytes)) & ~(kHugePage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);  // only advice: a refusal changes nothing
#else
    Q_UNUSED(data);
    Q_UNUSED(bytes);
#endif
}
