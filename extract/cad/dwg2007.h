// Drawings in the file structure of AC1021 (2007): pages protected by
// Reed-Solomon codes, interleaved, and compressed with their own scheme,
// found through a page map and a section map.
#pragma once

#include <cstdint>

#include "extract/cad/drawing_text.h"

namespace kuribo {

// Appends the texts of the drawing's objects to `sink`; a drawing that cannot
// be followed gives nothing.
void ReadDwg2007(const unsigned char* data, int32_t n, TextSink& sink);

// The compression of these drawings: decompresses `src` into `dst` (room for
// `cap` bytes); returns the bytes written, or -1 for a malformed stream.
int64_t Decompress2007(const unsigned char* src, int64_t srcLen, unsigned char* dst, int64_t cap);

// The data bytes of `blocks` interleaved code words of 255 bytes: the first
// `k` bytes of each, one word after the other, into `dst` (blocks * k bytes).
// False when `src` holds fewer than blocks * k bytes (the parity of the last
// words may be cut).
bool Deinterleave(const unsigned char* src, int64_t srcLen, int64_t blocks, int k, unsigned char* dst);

}  // namespace kuribo
