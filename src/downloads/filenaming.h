#pragma once

#include <QString>

// How an episode's file is named in the download folder.

// An episode title made into a file-name part: the characters
// " * + , / : ; < = > ? [ \ ] ^ | become spaces, each pair of spaces becomes
// one in a single pass, blanks and control characters go from both ends, and
// the rest is cut to 200 UTF-16 code units. "NoName" when nothing is left.
QString CleanFileName(const QString &title);

// The plain target path of an episode: the folder text as it stands, with
// "/" appended unless it ends in one, then the cleaned title with no run of
// spaces left ("InvalidName" when a control character stays inside it), then
// ".mp3" whatever the media type. A name whose UTF-8 form would not leave
// room in a file name of 255 bytes for ".mp3" and a counter " (n)" is cut
// further at a character boundary (non-Latin titles); every other name
// stays as the rule makes it.
QString episodeFilePath(const QString &folderText, const QString &title);

// The path itself when no file exists there; otherwise the first of
// "base (2).ext", "base (3).ext", ... that names no existing file (a folder
// does not count). Throws AppError "Invalid characters in path" when the path
// holds a character that the memory cards of podcast players cannot store in
// a name (control characters, the double quote, "<", ">", "|").
QString UniqueFileName(const QString &path);
