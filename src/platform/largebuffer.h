#pragma once

#include <QtGlobal>

// Asks the kernel to back a large, freshly allocated and still untouched
// buffer with huge pages where it can. Filling tens of megabytes of new
// memory otherwise costs one page fault every 4 KiB, which on a virtual
// machine takes longer than receiving the bytes. Small buffers and systems
// without transparent huge pages are left as they are.
void adviseLargeBuffer(void *data, qint64 bytes);
