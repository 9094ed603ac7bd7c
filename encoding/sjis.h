// Code page 932 (Shift_JIS as Windows writes it): byte classes and conversions.
// All document text inside the engine is code page 932 bytes; these helpers turn
// the user's UTF-8 (keywords, paths) into it and the engine's text back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kuribo {

// The byte classes every text walk of the engine uses: the whole lead range of
// code page 932, so the IBM extension kanji (0xFA-0xFC: 髙, 﨑, 彅) stay whole.
inline bool IsLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
inline bool IsTrailByte(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}
// ASCII and half-width katakana.
inline bool IsPrintableSingle(unsigned char c) {
  return (c >= 0x20 && c <= 0x7E) || (c >= 0xA1 && c <= 0xDF);
}
// Lead bytes of code page 932 proper (user-defined and IBM extension rows
// included); used only when decoding for display.
inline bool IsCp932Lead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Code page 932 code (one byte below 0x100, else lead << 8 | trail) to a UTF-16
// unit; -1 when the code has no character.
int Cp932ToUtf16(uint16_t code);
// UTF-16 unit to code page 932 code (one byte below 0x100); -1 when it has no form.
int Utf16ToCp932(char16_t unit);

// The two tables themselves (65,536 entries each, -1 where there is no form),
// for loops that convert many characters.
const int32_t* Cp932ToUtf16Table();
const int32_t* Utf16ToCp932Table();

// Code page 932 bytes to UTF-8. A code without a character becomes
// `replacement` (when it is 0 it is dropped). A lead byte cut off at the end is
// dropped: snippets are cut by bytes, not characters.
std::string SjisToUtf8(std::string_view sjis, char32_t replacement = U'\uFFFD');

// UTF-8 to code page 932. Malformed UTF-8, characters beyond U+FFFF and
// characters without a code page 932 form become `replacement`; `lossless`
// (when given) says whether every character converted.
std::string Utf8ToSjis(std::string_view utf8, char replacement = ' ', bool* lossless = nullptr);

// Appends one UTF-16 unit as code page 932, or `replacement` when it has no form.
void AppendCp932(std::string& out, char16_t unit, char replacement);

// UTF-16 units to code page 932, with `replacement` for units without a form.
std::string Utf16ToSjis(std::u16string_view utf16, char replacement = '?');

// Appends the UTF-8 form of one code point.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace kuribo
