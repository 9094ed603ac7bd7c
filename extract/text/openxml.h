// Office Open XML packages (.docx, .xlsx, .pptx and their macro twins): the
// members of the ZIP archive that can hold text, inflated, converted from UTF-8
// and stripped of tags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "extract/context.h"

namespace kuribo {

// The whole text passes neither this many bytes nor 1,000,000.
constexpr int32_t kOpenXmlTextLimit = 999'995;

// Writes the package's text (Shift_JIS, zero-terminated) at ctx.text and
// returns its length; 0 when the file cannot be read or holds no member.
// Members are read one at a time through the central directory, text members
// first, so the package may be of any size; ctx.file is the workspace.
int ExtractOpenXmlFile(const std::string& path, int32_t size, ExtractionContext& ctx);
// The same over package bytes in memory (not in ctx.file).
int32_t ExtractOpenXmlPackage(const unsigned char* data, size_t length, ExtractionContext& ctx);

// UTF-8 to UTF-16 units. A character beyond U+FFFF becomes its surrogate pair;
// each malformed sequence (stray continuation byte, overlong or cut-short form,
// encoded surrogate) becomes one U+FFFD, and decoding never reads past the input.
std::u16string Utf8ToUtf16(std::string_view utf8);

// UTF-16 units to Shift_JIS. A leading byte-order mark (U+FEFF or U+FFFE) is
// dropped; a unit without a code page 932 form, and a surrogate pair as a
// whole, become one space.
std::string Utf16ToShiftJis(std::u16string_view utf16);

// Utf16ToShiftJis(Utf8ToUtf16(src)) in one pass, writing to dst, which may be
// src itself: the result is never longer than the input. Returns its length.
size_t Utf8ToShiftJis(const unsigned char* src, size_t length, unsigned char* dst);
std::string Utf8ToShiftJis(std::string_view utf8);

}  // namespace kuribo
