// Small byte helpers shared by the PDF reader and decoder.
#pragma once

#include <cstdint>
#include <string_view>

namespace kuribo::pdf {

inline unsigned char LowerAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + 32) : c;
}

// Case-insensitive test of a lower-case keyword at data[pos]; false when the
// keyword would run past the data.
inline bool MatchAt(const unsigned char* data, int64_t size, int64_t pos, std::string_view kw) {
  if (pos < 0 || pos + (int64_t)kw.size() > size) return false;
  for (size_t i = 0; i < kw.size(); ++i) {
    if (LowerAscii(data[pos + (int64_t)i]) != (unsigned char)kw[i]) return false;
  }
  return true;
}

inline bool IsLineEnd(unsigned char c) { return c == '\r' || c == '\n'; }

// Without leading and trailing spaces and control bytes.
inline std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (unsigned char)s[b] <= 0x20) ++b;
  while (e > b && (unsigned char)s[e - 1] <= 0x20) --e;
  return s.substr(b, e - b);
}

// A plain decimal integer (optional sign, digits only, within 32 bits);
// anything else, an empty text and a trailing space included, gives 0.
inline int32_t ReadDecimal(std::string_view s) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  if (i == s.size()) return 0;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return 0;
    v = v * 10 + (s[i] - '0');
    if (v > 2'147'483'648LL) return 0;
  }
  if (negative) v = -v;
  if (v > 2'147'483'647LL) return 0;
  return (int32_t)v;
}

}  // namespace kuribo::pdf
