#include "platform/largebuffer.h"

#include <cstdint>

#if defined(Q_OS_LINUX)
#include <sys/mman.h>
#endif

void adviseLargeBuffer(void *data, qint64 bytes)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHugePage = 2 * 1024 * 1024;
    constexpr std::uintptr_t kPage = 4096;
    if (!data || bytes < qint64(2 * kHugePage))
        return;
    // The advice covers every page the buffer touches, not just the huge
    // pages inside it: a large buffer is a mapping of its own, and advice on
    // a part of it would split the mapping in two, after which the kernel can
    // no longer grow it in place (mremap) and every growth becomes a copy.
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(data) & ~(kPage - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + std::uintptr_t(bytes) + kPage - 1) & ~(kPage - 1);
    madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);  // only advice: a refusal changes nothing
#else
    Q_UNUSED(data);
    Q_UNUSED(bytes);
#endif
}
