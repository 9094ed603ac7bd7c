#include "platform/fs.h"

#include <fcntl.h>
#include <io.h>

#include "platform/windows/wide.h"

namespace kuribo {

std::string ExecutableDirectory() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), (DWORD)buf.size());
    if (n == 0) return "./";
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2);
  }
  std::string path = Narrow(buf);
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

bool IsExecutableFile(const std::string& path) {
  const DWORD a = GetFileAttributesW(Widen(WithExeSuffix(path)).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsReadableDirectory(const std::string& path) {
  std::string pattern = path;
  if (!pattern.empty() && pattern.back() != '/' && pattern.back() != '\\') pattern += '\\';
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileExW(Widen(pattern + "*").c_str(), FindExInfoBasic, &data,
                              FindExSearchNameMatch, nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

int OpenFileForReading(const std::string& path) {
  uint64_t size;
  return OpenFileForReading(path, &size);
}

int OpenFileForReading(const std::string& path, uint64_t* size) {
  HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  // Only files on a disk: pipes, consoles and devices would block or never end.
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(h);
    return -1;
  }
  *size = ((uint64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow;
  const int fd = _open_osfhandle((intptr_t)h, _O_RDONLY | _O_BINARY);
  if (fd < 0) CloseHandle(h);
  return fd;
}

size_t ReadFully(int fd, void* dst, size_t cap) {
  char* p = static_cast<char*>(dst);
  size_t got = 0;
  while (got < cap) {
    const size_t want = cap - got < (1u << 30) ? cap - got : (1u << 30);
    const int k = _read(fd, p + got, (unsigned)want);
    if (k <= 0) break;
    got += (size_t)k;
  }
  return got;
}

}  // namespace kuribo
