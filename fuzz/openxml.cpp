// Package bytes through the member walk, as the extractor reads them from a file.
#include <memory>

#include "extract/text/openxml.h"

using namespace kuribo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ExtractionContext* ctx = [] {
    auto* c = new ExtractionContext;
    c->text = std::make_unique<char[]>(kTextBufferSize);
    c->file = MakeFileBuffer(kFileBufferSize);
    return c;
  }();
  const int32_t t = ExtractOpenXmlPackage(data, size, *ctx);
  if (t < 0 || t > kOpenXmlTextLimit || ctx->text[t] != 0) __builtin_trap();
  return 0;
}
