// ExtractPdfText from memory: the input is the whole file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "extract/context.h"
#include "extract/pdf/pdf.h"

namespace {

// cmap.dat is generated beside the executables (build/*/bin), one folder over.
std::string ProgramDir() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "./";
  self[n] = '\0';
  const std::filesystem::path dir = std::filesystem::path(self).parent_path();
  if (std::filesystem::exists(dir.parent_path() / "bin" / "cmap.dat")) {
    return (dir.parent_path() / "bin").string() + "/";
  }
  return dir.string() + "/";
}

kuribo::ExtractionContext& Context() {
  static kuribo::ExtractionContext* ctx = [] {
    auto* c = new kuribo::ExtractionContext();
    c->text.reset(new char[kuribo::kTextBufferSize]);
    c->programDir = ProgramDir();
    kuribo::AllocatePdfWorkspace(*c);
    return c;
  }();
  return *ctx;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t)kuribo::kFileBufferSize) return 0;
  kuribo::ExtractionContext& ctx = Context();
  // A file buffer of exactly the input's size, so a read past the data is caught.
  ctx.file = kuribo::MakeFileBuffer(size ? size : 1);
  if (size) std::memcpy(ctx.file.get(), data, size);
  const int n = kuribo::ExtractPdfData((int32_t)size, ctx);
  if (n < 0 || n > kuribo::kMaxTextLength) __builtin_trap();
  return 0;
}
