// The PDF reader: qpdf for the structure, our decoding of the text shown
// (document.cpp), and the shallow reader of classic cross-reference tables
// that stands in for files qpdf cannot open (reader.cpp, decode.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "extract/context.h"
#include "extract/pdf/workspace.h"

namespace kuribo {

// The extractor: the file's compacted Shift_JIS text at ctx.text; 0 on every
// problem (no workspace, unreadable, no text). Files of any size are read.
int ExtractPdfText(const std::string& path, int32_t size, ExtractionContext& ctx);

// The same from the first `size` bytes already in ctx.file (fuzzing, tests).
int ExtractPdfData(int32_t size, ExtractionContext& ctx);

// The qpdf path alone over a document in memory or an open descriptor (which
// it takes over and closes): the compacted length, or -1 when qpdf cannot
// open the document.
int ExtractPdfMemory(const unsigned char* data, size_t size, ExtractionContext& ctx);
int ExtractPdfDescriptor(int fd, const std::string& path, ExtractionContext& ctx);

// The shallow reader alone over the first `size` bytes in ctx.file.
int ExtractPdfClassic(int32_t size, ExtractionContext& ctx);

// Fills the object table from the startxref value and its /Prev chain.
// Returns 1 when a non-zero startxref value was found, else 0 (count 0).
int ParseXrefChain(const unsigned char* data, int32_t size, int32_t* offsets, int32_t* extents,
                   int32_t& count);

// Inflates zlib data into dst (room for kPdfInflateBufferSize bytes); data
// that does not inflate is copied when it is all printable ASCII.
int32_t InflateStream(const unsigned char* src, unsigned char* dst, int32_t length);

// The strings shown between BT and ET of one decoded stream, appended at dst;
// returns the bytes appended. Hex strings split by line breaks are joined in
// place, so data is modified.
int32_t ExtractContentText(PdfWorkspace& ws, unsigned char* data, int32_t length, char* dst,
                           int32_t capacity);

// Big-endian 16-bit codes to a zero-terminated Shift_JIS string at dst (room
// for 5,011 bytes); returns its length.
int32_t DecodeHexText(PdfWorkspace& ws, const unsigned char* bytes, char* dst, int32_t count);

// Fills the ToUnicode table from a ToUnicode CMap's bfchar/bfrange lines.
// Returns 1 when it held at least one line.
int LoadToUnicodeMap(PdfWorkspace& ws, const unsigned char* data, int32_t length);

// Loads the CID table and the predefined table named by an /Encoding name
// from ws.cmapPath. Returns 1 when cmap.dat could be read.
int LoadPredefinedCMap(PdfWorkspace& ws, std::string_view name);

// The value of leading hexadecimal digits (0 when there are none).
uint32_t ParseHexNumber(std::string_view digits);

}  // namespace kuribo
