// The byte walk shared by CompactText and the HTML and CSV extractors: two-byte
// characters copied whole, the full-width space and non-text bytes turned into
// one space, no leading space, no two spaces in a row. Internal to extract/text.
#pragma once

#include <cstdint>

#include "encoding/sjis.h"

namespace kuribo::walk {

enum class Mode { kCompact, kHtml, kCsv };

// Walks p[r, limit) writing from p[w], where `length` is the end of the text (a
// lead byte takes its trail from below `length` only; a lead byte that is the
// last byte of the text is dropped). In kCompact mode the walk stops once more
// than 999,998 bytes have been emitted. Returns the emitted count.
template <Mode mode>
inline int32_t Walk(unsigned char* p, int32_t r, int32_t w, int32_t limit, int32_t length) {
  auto space = [&] {
    if (w > 0 && p[w - 1] != ' ') p[w++] = ' ';
  };
  while (r < limit) {
    const unsigned char c = p[r];
    if (IsLeadByte(c)) {
      if (r + 1 >= length) break;  // a lone lead byte has no character to form
      const unsigned char t = p[r + 1];
      r += 2;
      if (c == 0x81 && t == 0x40) {
        space();
      } else {
        p[w++] = c;
        p[w++] = t;
      }
    } else if constexpr (mode == Mode::kHtml) {
      if (c == '<') {
        while (r < length && p[r] != '>') ++r;
        if (r < length) ++r;  // past the '>'
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

}  // namespace kuribo::walk
