#pragma once

#include "base/versioninfo.h"

#include <QString>

// The folder that holds settings.ini and list.txt, always ending in "/": the
// program's own folder when a file can be created there and it is not
// installed system-wide (inside /usr), otherwise the
// per-user folder <config>/<company>/<product>/, created when missing
// (creation failures are ignored: reads and writes fail later where they happen).
QString chooseDataFolder(const QString &programFolder, const AppIdentity &identity, const QString &configFolder);
