// Text of DXF drawings, in their text and binary forms.
#pragma once

#include <cstdint>
#include <string>

#include "extract/context.h"

namespace kuribo {

// Reads the whole drawing, a window at a time, and keeps the values that hold
// drawing text (text entities, attributes, dimension overrides, leaders, table
// cells, block, layer and layout names) as code page 932; returns the
// compacted text written at ctx.text. The size is not used.
int ExtractDxfText(const std::string& path, int32_t size, ExtractionContext& ctx);

// The same walk over `length` bytes already in memory; `data` must not be
// ctx.text.
int32_t ExtractDxfBytes(const unsigned char* data, int32_t length, ExtractionContext& ctx);

}  // namespace kuribo
