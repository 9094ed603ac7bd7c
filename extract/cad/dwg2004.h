// Drawings in the file structure of 2004 and later (AC1018, AC1024, AC1027,
// AC1032): pages of compressed sections found through a page map and a
// section map.
#pragma once

#include <cstdint>
#include <vector>

#include "extract/cad/drawing_text.h"

namespace kuribo {

// Appends the texts of the drawing's objects to `sink`. A drawing that cannot
// be followed gives what was read before the fault.
void ReadDwg2004(const unsigned char* data, int32_t n, TextSink& sink);

// The texts of the objects in `objects` (the AcDb:AcDbObjects section) found
// through the object map in `handles` (AcDb:Handles), with the class numbers of
// `classes` (AcDb:Classes, empty when missing); `file` is the drawing's start,
// at least its first 0x100 bytes, from AC1018 on.
void ReadDrawingObjects(const std::vector<unsigned char>& handles,
                        const std::vector<unsigned char>& objects,
                        const std::vector<unsigned char>& classes, const unsigned char* file,
                        TextSink& sink);

// The section compression of these drawings: decompresses `src` into `dst`
// (room for `cap` bytes); returns the bytes written, or -1 for a malformed stream.
int64_t Decompress2004(const unsigned char* src, int64_t srcLen, unsigned char* dst, int64_t cap);

}  // namespace kuribo
