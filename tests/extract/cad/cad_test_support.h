// A reserved extraction context for the drawing tests.
#pragma once

#include <memory>

#include "extract/context.h"

namespace kuribo::test {

inline std::unique_ptr<ExtractionContext> MakeCadContext() {
  auto ctx = std::make_unique<ExtractionContext>();
  ctx->text.reset(new char[kTextBufferSize]);
  ctx->file = MakeFileBuffer(kFileBufferSize);
  return ctx;
}

}  // namespace kuribo::test
