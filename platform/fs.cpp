#include "platform/fs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace kuribo {

std::string ExecutableDirectory() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string path(buf, (size_t)n);
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool IsReadableDirectory(const std::string& path) {
  DIR* d = opendir(path.c_str());
  if (!d) return false;
  closedir(d);
  return true;
}

int OpenFileForReading(const std::string& path) {
  uint64_t size;
  return OpenFileForReading(path, &size);
}

int OpenFileForReading(const std::string& path, uint64_t* size) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  *size = st.st_size > 0 ? (uint64_t)st.st_size : 0;
  return fd;
}

size_t ReadFully(int fd, void* dst, size_t cap) {
  char* p = static_cast<char*>(dst);
  size_t got = 0;
  while (got < cap) {
    const ssize_t k = read(fd, p + got, cap - got);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) break;
    got += (size_t)k;
  }
  return got;
}

}  // namespace kuribo
