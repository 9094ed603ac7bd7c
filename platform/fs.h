// The few operating-system calls the engine needs, POSIX flavour.
#pragma once

#include <cstdint>
#include <string>

namespace kuribo {

// Directory of the running executable, ending in "/".
std::string ExecutableDirectory();

// A regular file that this process may execute.
bool IsExecutableFile(const std::string& path);

// A directory this process can list.
bool IsReadableDirectory(const std::string& path);

}  // namespace kuribo
