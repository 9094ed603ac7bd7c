#include "platform/dir.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace kuribo {

bool ListDirectory(const std::string& dir, std::vector<DirEntry>& out, FileId& id, std::string& error,
                   const std::function<bool(const std::string& name)>& wantStatus) {
  out.clear();
  DIR* d = opendir(dir.c_str());
  if (!d) {
    error = std::strerror(errno);
    return false;
  }
  struct stat self;
  if (fstat(dirfd(d), &self) != 0) {
    error = std::strerror(errno);
    closedir(d);
    return false;
  }
  id = {(uint64_t)self.st_dev, (uint64_t)self.st_ino};
  errno = 0;
  while (struct dirent* e = readdir(d)) {
    const char* name = e->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    DirEntry entry;
    entry.name = name;
    switch (e->d_type) {
      case DT_REG: entry.kind = DirEntry::Kind::kFile; break;
      case DT_DIR: entry.kind = DirEntry::Kind::kDirectory; break;
      case DT_LNK:
      case DT_UNKNOWN: entry.kind = DirEntry::Kind::kUnknown; break;
      default: entry.kind = DirEntry::Kind::kOther; break;
    }
    struct stat st;
    // One name looked up in the open directory, not the whole path later.
    if (entry.kind == DirEntry::Kind::kFile && wantStatus && wantStatus(entry.name) &&
        fstatat(dirfd(d), name, &st, 0) == 0 && S_ISREG(st.st_mode)) {
      entry.haveStatus = true;
      entry.size = (uint64_t)st.st_size;
      entry.mtime = (int64_t)st.st_mtime;
    }
    out.push_back(std::move(entry));
  }
  const int readError = errno;
  closedir(d);
  if (readError != 0) {
    // What was listed before the failure is still walked.
    error = std::strerror(readError);
    return !out.empty();
  }
  return true;
}

bool StatPath(const std::string& path, FileStatus& status) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  status.isDirectory = S_ISDIR(st.st_mode);
  status.isRegular = S_ISREG(st.st_mode);
  status.size = (uint64_t)st.st_size;
  status.mtime = (int64_t)st.st_mtime;
  return true;
}

}  // namespace kuribo
