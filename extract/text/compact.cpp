#include "extract/text/compact.h"

#include "encoding/sjis.h"

namespace kuribo {

int32_t CompactText(char* buf, int32_t length) {
  if (length <= 0) return 0;
  const int32_t limit = length < 1'000'000 ? length : 1'000'000;
  unsigned char* p = reinterpret_cast<unsigned char*>(buf);
  int32_t r = 0, w = 0;
  while (r < limit) {
    const unsigned char c = p[r];
    if (c == 0x81 && p[r + 1] == 0x40) {
      r += 2;
      if (w > 0 && p[w - 1] != ' ') p[w++] = ' ';
    } else if (IsLeadByte(c)) {
      const unsigned char t = p[r + 1];
      p[w++] = c;
      p[w++] = t;
      r += 2;
    } else if (c == ' ' || !IsPrintableSingle(c)) {
      ++r;
      if (w > 0 && p[w - 1] != ' ') p[w++] = ' ';
      else continue;
    } else {
      p[w++] = c;
      ++r;
    }
    if (w > 999'998) break;
  }
  return w;
}

}  // namespace kuribo
