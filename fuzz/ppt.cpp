// Fuzz target: whole-file extraction of .ppt files, the compound-document
// path included, through a private temporary file.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "extract/office/office.h"

namespace {

kuribo::ExtractionContext& Context() {
  static kuribo::ExtractionContext* ctx = [] {
    auto* c = new kuribo::ExtractionContext;
    c->text = std::make_unique<char[]>(kuribo::kTextBufferSize);
    c->file = std::make_unique<unsigned char[]>(kuribo::kFileBufferSize);
    return c;
  }();
  return *ctx;
}

const std::string& TempPath() {
  static const std::string path = "/tmp/kuribo_fuzz_" + std::to_string(::getpid()) + ".ppt";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(TempPath().c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  kuribo::ExtractPptText(TempPath(), (int32_t)size, Context());
  return 0;
}
