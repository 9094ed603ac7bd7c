// Text lines of DXF drawings in their text form.
#pragma once

#include <cstdint>
#include <string>

#include "extract/context.h"

namespace kuribo {

// Reads the first 999,999 bytes of the drawing and keeps every line that does
// not look like structure; returns the compacted text written at ctx.text.
// The size is not used.
int ExtractDxfText(const std::string& path, int32_t size, ExtractionContext& ctx);

// The same filter over `length` bytes already in memory; `data` must not be
// ctx.text.
int32_t ExtractDxfBytes(const unsigned char* data, int32_t length, ExtractionContext& ctx);

}  // namespace kuribo
