#include "app/programicon.h"

QIcon programIcon()
{
    // Loaded once: every window then shares the same icon.
    static const QIcon icon = [] {
        QIcon i;
        for (int size : {16, 32, 48, 64, 128, 256})
            i.addFile(QStringLiteral(":/icons/morvane-%1.png").arg(size), QSize(size, size));
        return i;
    }();
    return icon;
}
