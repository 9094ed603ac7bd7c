// Clocks and the desktop: times for rows and export names, opening a file.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace kuribo {

// A time as calendar fields in UTC; false when it cannot be represented.
bool UtcTime(int64_t secondsSinceEpoch, std::tm& out);

// The local time now, with the milliseconds of the current second.
std::tm LocalTimeNow(int& milliseconds);

// Opens `path` with the program the desktop associates with it; false when
// none could be started.
bool OpenWithAssociatedProgram(const std::string& path);

// Lowers the calling thread's priority a step below its process's other
// threads where the processor is shared out by weight (Linux); elsewhere it
// does nothing. Returns whether it did.
bool LowerThreadPriority();

// The program's arguments in UTF-8 (on Windows read again from the system's
// UTF-16 command line, since `argv` holds the ANSI code page there).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace kuribo
