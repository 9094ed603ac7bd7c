// What the window asks of the desktop: opening a file with the program
// associated with its type, and where the settings and exports live.
#pragma once

#include <QString>

namespace kuribo {

// Opens `path` with the program associated with its type; with no association,
// with the program for plain text. False when nothing could be started.
bool OpenWithAssociatedProgram(const QString& path);

// The program directory when it is writable (a portable copy), else the
// user's configuration directory for the program (created when missing).
// Both end in "/".
QString ChooseDataDirectory(const QString& programDir);

}  // namespace kuribo
