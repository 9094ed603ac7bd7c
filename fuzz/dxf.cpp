// DXF text from memory, and now and then through a file.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include "file_fuzz.h"
#include "extract/cad/dxf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4'000'000) return 0;
  kuribo::ExtractionContext& ctx = fuzz::Context();
  std::unique_ptr<unsigned char[]> copy(new unsigned char[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  const int n = kuribo::ExtractDxfBytes(copy.get(), static_cast<int32_t>(size), ctx);
  if (n > kuribo::kMaxTextLength) std::abort();
  if (size > 0 && data[0] == '~') {
    char path[] = "/tmp/kuribo_fuzz_dxf_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 0;
    if (write(fd, data, size) == static_cast<ssize_t>(size)) {
      if (kuribo::ExtractDxfText(path, 0, ctx) > kuribo::kMaxTextLength) std::abort();
    }
    close(fd);
    unlink(path);
  }
  return 0;
}
