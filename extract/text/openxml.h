// Office Open XML packages (.docx, .xlsx, .pptx and their macro twins): every
// member of the ZIP archive inflated, converted from UTF-8 and stripped of tags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "extract/context.h"

namespace kuribo {

// At most this many bytes of a package are read, into ctx.file from byte 0.
constexpr int32_t kOpenXmlReadLimit = 3'999'995;
// One member's inflated bytes go here in ctx.file; room for 1,000,000 bytes.
constexpr int32_t kOpenXmlInflateOffset = 4'000'000;
constexpr int32_t kOpenXmlInflateRoom = 1'000'000;
// Neither one member nor the whole text passes this many bytes.
constexpr int32_t kOpenXmlTextLimit = 999'995;

// Writes the package's text (Shift_JIS, zero-terminated) at ctx.text and
// returns its length; 0 when the file cannot be read or holds no member.
int ExtractOpenXmlFile(const std::string& path, int32_t size, ExtractionContext& ctx);
// The same over the `length` package bytes already at ctx.file.
int32_t ExtractOpenXmlPackage(int32_t length, ExtractionContext& ctx);

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
