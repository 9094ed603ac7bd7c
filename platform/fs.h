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

// A read-only descriptor of a regular file, or -1. Opening never blocks: a
// named pipe or a device that carries a document's name is refused.
int OpenFileForReading(const std::string& path);
// The same, with the file's size as its own status gave it when it was opened.
int OpenFileForReading(const std::string& path, uint64_t* size);

// Reads up to `cap` bytes, retrying short reads and interruptions; returns the
// bytes read (fewer only at the end of the file or on an error).
size_t ReadFully(int fd, void* dst, size_t cap);

// Writes `bytes` to `path` through a temporary file beside it and a rename: a
// failed write (a full disk) leaves an old file as it was and no partial one.
// False when the file could not be written.
bool WriteFileReplacing(const std::string& path, const std::string& bytes);

}  // namespace kuribo
