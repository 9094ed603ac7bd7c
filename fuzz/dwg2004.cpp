// Drawings of the 2004 file structure, and the section decompression alone.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include "file_fuzz.h"
#include "extract/cad/dwg.h"
#include "extract/cad/dwg2004.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(kuribo::kFileBufferSize)) return 0;
  std::unique_ptr<unsigned char[]> copy(new unsigned char[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  if (size > 0 && size < 0x100) {
    static unsigned char out[1 << 16];
    if (kuribo::Decompress2004(copy.get(), static_cast<int64_t>(size), out, sizeof out) >
        static_cast<int64_t>(sizeof out)) {
      std::abort();
    }
    return 0;
  }
  if (kuribo::ExtractDwgBytes(copy.get(), static_cast<int32_t>(size), fuzz::Context()) >
      kuribo::kMaxTextLength) {
    std::abort();
  }
  return 0;
}
