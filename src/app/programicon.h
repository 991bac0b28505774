#pragma once

#include <QIcon>

// The program's icon, in the sizes drawn for it (16 to 256 pixels): the
// windows show it, and the desktop entry uses the same image.
QIcon programIcon();
