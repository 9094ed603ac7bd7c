// What the window asks of the desktop: opening a file with the program
// associated with its type, and where the settings and exports live.
#pragma once

#include <QString>
#include <QStringList>

namespace kuribo {

// Opens `path` with the program associated with its type; with no association,
// with the program for plain text. False when nothing could be started.
bool OpenWithAssociatedProgram(const QString& path);

// The program and arguments of a desktop entry's Exec line for one file: the
// file goes where %f/%F (as a path) or %u/%U (as a URL) stand, else last;
// other field codes are dropped. Empty when the line names no program.
QStringList ExecArguments(const QString& exec, const QString& path);

// The program directory when it is writable (a portable copy), else the
// user's configuration directory for the program (created when missing).
// An installed copy (`portable` false) always uses the latter, even when run
// by a user who could write to the installed folder. Both end in "/".
QString ChooseDataDirectory(const QString& programDir, bool portable = true);

}  // namespace kuribo
