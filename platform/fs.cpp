#include "platform/fs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

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

namespace {

// The mode a file replacing `path` gets: the old file's, else what the process
// umask gives a new file (read without changing it: other threads create files).
mode_t NewFileMode(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
  unsigned mask = 022;
  if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
    }
    std::fclose(f);
  }
  return 0666 & ~(mode_t)mask;
}


}  // namespace

bool WriteFileReplacing(const std::string& path, const std::string& bytes) {
  const size_t slash = path.rfind('/');
  std::string temp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
                     ".kuribo-XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += (size_t)n;
  }
  // mkostemp makes the file private; the file keeps the mode of the one it
  // replaces, or gets that of any new file.
  ok = fchmod(fd, NewFileMode(path)) == 0 && ok;
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace kuribo
