#pragma once

// Process start: the named mutex, the application object, the main window and
// the message loop. Returns the process exit code.
int runMorvane(int argc, char *argv[]);
