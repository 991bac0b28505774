#include "platform/largebuffer.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#if defined(Q_OS_LINUX)
#include <sys/mman.h>
#endif

namespace {

constexpr std::uintptr_t kHugePage = 2 * 1024 * 1024;
constexpr std::uintptr_t kPage = 4096;

} // namespace

void adviseLargeBuffer(void *data, qint64 bytes)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
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

LargeBlock::LargeBlock(qint64 bytes)
{
    if (bytes <= 0)
        return;
#if defined(Q_OS_LINUX)
    if (bytes >= qint64(kHugePage)) {
        // Whole huge pages, starting on a boundary: map one huge page more
        // than needed and give back what lies outside.
        const std::uintptr_t length = (std::uintptr_t(bytes) + kHugePage - 1) & ~(kHugePage - 1);
        void *map = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED)
            throw std::bad_alloc();
        const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(map);
        const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
        if (aligned > start)
            munmap(map, aligned - start);
        munmap(reinterpret_cast<void *>(aligned + length), start + kHugePage - aligned);
        m_data = reinterpret_cast<char *>(aligned);
        m_mapped = qint64(length);
        adviseLargeBuffer(m_data, m_mapped);
        return;
    }
#endif
    m_data = static_cast<char *>(std::malloc(size_t(bytes)));
    if (!m_data)
        throw std::bad_alloc();
}

LargeBlock::~LargeBlock()
{
    release();
}

LargeBlock::LargeBlock(LargeBlock &&other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_mapped(std::exchange(other.m_mapped, 0))
{
}

LargeBlock &LargeBlock::operator=(LargeBlock &&other) noexcept
{
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_mapped = std::exchange(other.m_mapped, 0);
    }
    return *this;
}

void LargeBlock::release() noexcept
{
    if (!m_data)
        return;
#if defined(Q_OS_LINUX)
    if (m_mapped > 0)
        munmap(m_data, size_t(m_mapped));
    else
        std::free(m_data);
#else
    std::free(m_data);
#endif
    m_data = nullptr;
    m_mapped = 0;
}
