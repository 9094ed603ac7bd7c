// Texts of DWG drawings: single-line and multi-line text, attributes,
// attribute definitions, block and layer names. Versions AC1012 to AC1015, the
// 2004 file structure (AC1018, AC1024, AC1027, AC1032) and AC1021; versions
// before AC1012 and unknown ones give no text.
#pragma once

#include <cstdint>
#include <string>

#include "extract/context.h"

namespace kuribo {

// Reads at most size + 10 bytes (and at most the file buffer) of the drawing
// and returns the compacted text written at ctx.text; 0 when there is none.
int ExtractDwgText(const std::string& path, int32_t size, ExtractionContext& ctx);

// The same walk over `length` bytes already in memory (`data` may be ctx.file).
int32_t ExtractDwgBytes(const unsigned char* data, int32_t length, ExtractionContext& ctx);

}  // namespace kuribo
