// A reserved extraction context and temporary files for the drawing tests.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "extract/context.h"

namespace kuribo::test {

inline std::unique_ptr<ExtractionContext> MakeCadContext() {
  auto ctx = std::make_unique<ExtractionContext>();
  ctx->text.reset(new char[kTextBufferSize]);
  ctx->file.reset(new unsigned char[kFileBufferSize]);
  return ctx;
}

// A file holding the given bytes, removed when the object goes.
class TempFile {
 public:
  TempFile(const void* data, size_t size, const char* suffix) {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir && *dir ? dir : "/tmp") + "/kuribo_cad_XXXXXX" + suffix;
    std::vector<char> name(path_.begin(), path_.end());
    name.push_back('\0');
    const int fd = mkstemps(name.data(), static_cast<int>(std::char_traits<char>::length(suffix)));
    if (fd < 0) return;
    path_ = name.data();
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t w = write(fd, p, size);
      if (w <= 0) break;
      p += w;
      size -= static_cast<size_t>(w);
    }
    close(fd);
  }
  explicit TempFile(const std::vector<uint8_t>& bytes, const char* suffix)
      : TempFile(bytes.data(), bytes.size(), suffix) {}
  explicit TempFile(const std::string& bytes, const char* suffix)
      : TempFile(bytes.data(), bytes.size(), suffix) {}
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace kuribo::test
