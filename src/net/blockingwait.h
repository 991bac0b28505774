#pragma once

#include <QEventLoop>

// Runs a local event loop until someone calls loop.quit(). This is how every
// blocking network call of the program waits: on the window thread the windows
// keep repainting and do not look frozen, but they take no keyboard or mouse
// input, so no other command can start meanwhile. On a worker thread it is just
// that thread's own event loop.
inline void runBlocking(QEventLoop &loop)
{
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}
