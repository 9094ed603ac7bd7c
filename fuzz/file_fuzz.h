// Shared by the fuzz targets whose extractors read a whole file from a path:
// the input goes to a private temporary file, then through the extractor.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "app/dispatch.h"

namespace fuzz {

inline kuribo::ExtractionContext& Context() {
  static kuribo::ExtractionContext* ctx = [] {
    auto* c = new kuribo::ExtractionContext;
    c->text = std::make_unique<char[]>(kuribo::kTextBufferSize);
    c->file = kuribo::MakeFileBuffer(kuribo::kFileBufferSize);
    return c;
  }();
  return *ctx;
}

inline int ExtractFromFile(const uint8_t* data, size_t size, const char* ext, kuribo::Extractor extractor) {
  static const std::string path = "/tmp/kuribo_fuzz_" + std::to_string(::getpid()) + ext;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  extractor(path, (int32_t)size, Context());
  return 0;
}

}  // namespace fuzz
