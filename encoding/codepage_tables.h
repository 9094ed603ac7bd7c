// Code page tables generated at build time (encoding/gen/tablegen.cpp) from the
// build machine's iconv. Each table is a flat list of pairs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kuribo::tables {

// Code page 932: code (one byte, or lead << 8 | trail) and its UTF-16 unit.
extern const uint16_t kCp932Decode[];
extern const size_t kCp932DecodeCount;
// UTF-16 unit and the code page 932 code it is written as.
extern const uint16_t kCp932Encode[];
extern const size_t kCp932EncodeCount;
// JIS X 0212 (row - 0x21) * 94 + (cell - 0x21) and its UTF-16 unit.
extern const uint16_t kJis0212Decode[];
extern const size_t kJis0212DecodeCount;

// A single- or double-byte Windows code page: code and unit pairs; a byte in
// `leads` starts a two-byte code (lead << 8 | trail).
struct CodePageTable {
  unsigned codePage;
  const uint16_t* pairs;
  size_t count;
  const unsigned char* leads;
  size_t leadCount;
};
extern const CodePageTable kCodePages[];
extern const size_t kCodePageCount;

}  // namespace kuribo::tables
