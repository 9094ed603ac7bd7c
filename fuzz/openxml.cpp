// Package bytes straight into the file buffer, as the extractor reads them.
#include <cstring>
#include <memory>

#include "extract/text/openxml.h"

using namespace kuribo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ExtractionContext* ctx = [] {
    auto* c = new ExtractionContext;
    c->text = std::make_unique<char[]>(kTextBufferSize);
    c->file = std::make_unique<unsigned char[]>(kFileBufferSize);
    return c;
  }();
  const size_t n = size < (size_t)kOpenXmlReadLimit ? size : (size_t)kOpenXmlReadLimit;
  std::memcpy(ctx->file.get(), data, n);
  const int32_t t = ExtractOpenXmlPackage((int32_t)n, *ctx);
  if (t < 0 || t > kOpenXmlTextLimit || ctx->text[t] != 0) __builtin_trap();
  return 0;
}
