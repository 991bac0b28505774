#pragma once

#include <QString>

// True when a file can be created in the folder: creates "chk.tmp" there with
// create-new semantics (fails when such a file exists) and removes it again
// at once, so the test never leaves a file behind.
bool IsFolderWritable(const QString &folder);

// Shell folders by number; 0 is the user's Desktop. Empty text when the
// desktop does not know the folder.
constexpr int CSIDL_DESKTOP = 0;
QString GetSpecialFolder(int id);

// The per-user configuration folder: $XDG_CONFIG_HOME, or ~/.config when unset.
QString userConfigFolder();

// Makes sure the path ends in the path delimiter "/".
QString withTrailingSlash(const QString &path);
