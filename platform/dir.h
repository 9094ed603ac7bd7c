// Listing directories and asking about files, for the search walk.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kuribo {

struct DirEntry {
  enum class Kind : uint8_t { kFile, kDirectory, kOther, kUnknown };
  std::string name;  // UTF-8
  // kUnknown: a link or a file system that does not say; StatPath tells.
  Kind kind = Kind::kUnknown;
  // Where the listing itself tells (Windows) or was asked to look (a regular
  // file `wantStatus` named), the file's size and last-write time, so no
  // further call is needed.
  bool haveStatus = false;
  uint64_t size = 0;
  int64_t mtime = 0;  // seconds since 1970, UTC
};

// What identifies a directory however it is reached (device and inode, or
// volume and file index).
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator<(const FileId& o) const { return device != o.device ? device < o.device : inode < o.inode; }
};

// Reads the entries of `dir` ("." and ".." left out) into `out`, in the order the
// file system gives them, and closes the directory again before returning, so a
// walk holds no directory open. `id` receives the directory's identity. False
// (with `error` saying why) when the directory cannot be read.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>& out, FileId& id, std::string& error,
                   const std::function<bool(const std::string& name)>& wantStatus = {});

struct FileStatus {
  bool isDirectory = false;
  bool isRegular = false;
  uint64_t size = 0;
  int64_t mtime = 0;  // seconds since 1970, UTC
};

// The status of `path`, links followed; false when there is none.
bool StatPath(const std::string& path, FileStatus& status);

}  // namespace kuribo
