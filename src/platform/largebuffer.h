#pragma once

#include <QtGlobal>

// Asks the kernel to back a large, freshly allocated and still untouched
// buffer with huge pages where it can. Filling tens of megabytes of new
// memory otherwise costs one page fault every 4 KiB, which on a virtual
// machine takes longer than receiving the bytes. Small buffers and systems
// without transparent huge pages are left as they are.
void adviseLargeBuffer(void *data, qint64 bytes);

// A block of memory of its own, for filling once: on Linux a mapping that
// starts on a huge-page boundary and is advised as above, so that all of it
// can be backed by huge pages; elsewhere plain heap memory. Throws
// std::bad_alloc when there is no memory for it.
class LargeBlock
{
public:
    LargeBlock() = default;
    explicit LargeBlock(qint64 bytes);
    ~LargeBlock();
    LargeBlock(LargeBlock &&other) noexcept;
    LargeBlock &operator=(LargeBlock &&other) noexcept;
    LargeBlock(const LargeBlock &) = delete;
    LargeBlock &operator=(const LargeBlock &) = delete;

    char *data() const { return m_data; }

private:
    void release() noexcept;

    char *m_data = nullptr;
    qint64 m_mapped = 0;  // bytes mapped, or 0 for heap memory
};
