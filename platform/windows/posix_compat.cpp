#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstring>

#include <windows.h>

#include "platform/windows/wide.h"

namespace kuribo::compat {

int Open(const char* path, int flags, int mode) {
  return _wopen(Widen(path).c_str(), flags | _O_BINARY, mode ? (_S_IREAD | _S_IWRITE) : 0);
}

int MakeTemp(char* pathTemplate, int flags) {
  std::string t = pathTemplate;
  const size_t x = t.rfind("XXXXXX");
  if (x == std::string::npos) return -1;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const unsigned r = (GetTickCount() ^ (GetCurrentProcessId() << 8) ^ (attempt * 2654435761u));
    for (size_t i = 0; i < 6; ++i) t[x + i] = "abcdefghijklmnopqrstuvwxyz0123456789"[(r >> (i * 5)) % 36];
    const int fd = _wopen(Widen(t).c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | flags,
                          _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
      memcpy(pathTemplate, t.data(), t.size());
      return fd;
    }
  }
  return -1;
}

int Rename(const char* from, const char* to) {
  return MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : -1;
}

int Unlink(const char* path) { return _wunlink(Widen(path).c_str()); }

// At an offset without moving the descriptor's shared position, like pread.
long long PRead(int fd, void* dst, size_t n, long long offset) {
  const HANDLE h = (HANDLE)_get_osfhandle(fd);
  if (h == INVALID_HANDLE_VALUE || offset < 0) return -1;
  OVERLAPPED at{};
  at.Offset = (DWORD)offset;
  at.OffsetHigh = (DWORD)((unsigned long long)offset >> 32);
  DWORD got = 0;
  const DWORD want = n < (1u << 30) ? (DWORD)n : (1u << 30);
  if (!ReadFile(h, dst, want, &got, &at)) return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  return got;
}

}  // namespace kuribo::compat
