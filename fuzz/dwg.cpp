// Drawings from memory, and now and then through a file with a recorded size
// that disagrees with the real one.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "extract/cad/dwg.h"
#include "file_fuzz.h"

namespace {

void Check(int n) {
  if (n > kuribo::kMaxTextLength) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(kuribo::kFileBufferSize)) return 0;
  kuribo::ExtractionContext& ctx = fuzz::Context();
  // Exactly the input, so a read past it is caught.
  std::unique_ptr<unsigned char[]> copy(new unsigned char[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  Check(kuribo::ExtractDwgBytes(copy.get(), static_cast<int32_t>(size), ctx));
  // A byte the reader ignores chooses whether the file path is taken as well.
  if (size >= 52 && data[6] == 'F') {
    char path[] = "/tmp/kuribo_fuzz_dwg_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 0;
    if (write(fd, data, size) == static_cast<ssize_t>(size)) {
      Check(kuribo::ExtractDwgText(path, static_cast<int32_t>(size) - (data[50] & 0x3F), ctx));
    }
    close(fd);
    unlink(path);
  }
  return 0;
}
