// Drawings of the 2007 file structure (every input is given that version),
// and the decompression and code word de-interleaving alone.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include "file_fuzz.h"
#include "extract/cad/dwg.h"
#include "extract/cad/dwg2007.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(kuribo::kFileBufferSize)) return 0;
  std::unique_ptr<unsigned char[]> copy(new unsigned char[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  if (size > 0 && size < 0x480) {
    static unsigned char out[1 << 16];
    if (kuribo::Decompress2007(copy.get(), static_cast<int64_t>(size), out, sizeof out) >
        static_cast<int64_t>(sizeof out)) {
      std::abort();
    }
    const int64_t blocks = 1 + copy[0] % 8;
    const int k = 1 + copy[size - 1];
    std::unique_ptr<unsigned char[]> words(new unsigned char[blocks * k]);
    kuribo::Deinterleave(copy.get(), static_cast<int64_t>(size), blocks, k, words.get());
    return 0;
  }
  if (size >= 6) std::memcpy(copy.get(), "AC1021", 6);
  if (kuribo::ExtractDwgBytes(copy.get(), static_cast<int32_t>(size), fuzz::Context()) >
      kuribo::kMaxTextLength) {
    std::abort();
  }
  return 0;
}
