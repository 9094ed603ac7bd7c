// The byte walk shared by CompactText and the HTML and CSV extractors: two-byte
// characters copied whole, the full-width space and non-text bytes turned into
// one space, no leading space, no two spaces in a row. Internal to extract/text.
#pragma once

#include <cstdint>
#include <cstring>

#include "encoding/sjis.h"

namespace kuribo::walk {

enum class Mode { kCompact, kHtml, kCsv };

// Walks s[r, limit) writing from p[w], where `length` is the end of the text (a
// lead byte takes its trail from below `length` only; a lead byte that is the
// last byte of the text is dropped). The source may be the output itself (the
// output never overtakes the input) or another buffer. In kCompact mode the
// walk stops once more than 999,998 bytes have been emitted. Returns the
// emitted count; r is left where the walk stopped.
template <Mode mode>
inline int32_t Walk(const unsigned char* s, unsigned char* p, int32_t& r, int32_t w, int32_t limit,
                    int32_t length) {
  auto space = [&] {
    if (w > 0 && p[w - 1] != ' ') p[w++] = ' ';
  };
  while (r < limit) {
    const unsigned char c = s[r];
    if (IsLeadByte(c)) {
      if (r + 1 >= length) break;  // a lone lead byte has no character to form
      const unsigned char t = s[r + 1];
      r += 2;
      if (c == 0x81 && t == 0x40) {
        space();
      } else {
        p[w++] = c;
        p[w++] = t;
      }
    } else if constexpr (mode == Mode::kHtml) {
      if (c == '<') {
        const void* close = std::memchr(s + r, '>', (size_t)(length - r));
        r = close ? (int32_t)(static_cast<const unsigned char*>(close) - s) + 1 : length;
        space();
      } else if (c == ' ' || !IsPrintableSingle(c)) {
        ++r;
        space();
      } else {
        p[w++] = c;
        ++r;
      }
    } else if constexpr (mode == Mode::kCsv) {
      ++r;
      if (c == ',') {
        if (w > 0 && p[w - 1] != ' ') p[w++] = ',';
      } else if (c == ' ' || !IsPrintableSingle(c)) {
        space();
      } else {
        p[w++] = c;
      }
    } else {
      ++r;
      if (c == ' ' || !IsPrintableSingle(c)) {
        space();
      } else {
        p[w++] = c;
      }
    }
    if constexpr (mode == Mode::kCompact) {
      if (w > 999'998) break;
    }
  }
  return w;
}

template <Mode mode>
inline int32_t Walk(unsigned char* p, int32_t r, int32_t w, int32_t limit, int32_t length) {
  return Walk<mode>(p, p, r, w, limit, length);
}

// The HTML and CSV walks in 64-byte blocks, tags closed within a block and
// commas settled inside it; the same result as Walk from the start. s may be p
// itself; otherwise p has room for `limit` bytes (one more where the text goes
// on past the limit, for a character across it), which the walk may use as
// scratch past its result. Defined with CompactText.
template <Mode mode>
int32_t FastWalk(const unsigned char* s, unsigned char* p, int32_t limit, int32_t length);

}  // namespace kuribo::walk
