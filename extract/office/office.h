// Text of Word, Excel and PowerPoint documents in their binary formats.
#pragma once

#include <cstdint>
#include <string>

#include "extract/context.h"

namespace kuribo {

// Each returns the bytes of compacted Shift_JIS text written at ctx.text, 0 when
// the file gives none. When the file is a compound document its document stream
// is read through the container; otherwise the raw bytes are read as they lie.
int ExtractDocText(const std::string& path, int32_t size, ExtractionContext& ctx);
int ExtractXlsText(const std::string& path, int32_t size, ExtractionContext& ctx);
int ExtractPptText(const std::string& path, int32_t size, ExtractionContext& ctx);

// The decoders over bytes already in memory. `file` holds n bytes laid out as
// the readers expect (the Word stream at offset 512, the Excel and PowerPoint
// streams from offset 0); `out` must hold kTextBufferSize bytes.
int32_t DecodeWordBytes(const unsigned char* file, int32_t n, char* out);
int32_t DecodeExcelBytes(const unsigned char* file, int32_t n, char* out);
int32_t DecodePowerPointBytes(const unsigned char* file, int32_t n, char* out);

}  // namespace kuribo
