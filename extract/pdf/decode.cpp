#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "encoding/sjis.h"
#include "extract/pdf/bytes.h"
#include "extract/pdf/pdf.h"

namespace kuribo {

using pdf::IsLineEnd;
using pdf::MatchAt;
using pdf::ReadDecimal;
using pdf::Trim;

namespace {

constexpr int32_t kLiteralCut = 5'000;   // a literal string ends after 5,001 bytes
constexpr int32_t kHexCut = 5'000;       // a hex string ends at 5,000 bytes
constexpr int32_t kCollectorRoom = 5'010;
constexpr int32_t kMaxUnits = 2'505;
constexpr int32_t kMaxCmapBytes = 5'010;
constexpr int32_t kDecodedRoom = 5'016;  // 2 x 2,505 bytes, the zero and spare
constexpr int32_t kMapLineRoom = 254;

struct NamedCmap {
  const char* name;
  int32_t compared;
  int32_t offset;
  int32_t count;
};

// The layout of cmap.dat after the CID table (offset 0, 225 entries).
constexpr NamedCmap kNamedCmaps[] = {
    {"83pv-RKSJ-H", 11, 1'350, 222},  {"90msp-RKSJ-H", 12, 2'682, 171},
    {"90msp-RKSJ-V", 12, 3'708, 78},  {"90ms-RKSJ-H", 11, 4'176, 172},
    {"90ms-RKSJ-V", 11, 5'208, 78},   {"UniJIS-UCS2-H", 11, 5'676, 8'534},
};

bool PrefixMatches(std::string_view name, const NamedCmap& m) {
  if ((int32_t)name.size() < m.compared) return false;
  for (int32_t i = 0; i < m.compared; ++i) {
    if (pdf::LowerAscii((unsigned char)name[i]) != pdf::LowerAscii((unsigned char)m.name[i])) {
      return false;
    }
  }
  return true;
}

void ReadCmapFile(PdfWorkspace& ws) {
  ws.cmapRead = true;
  ws.cmapPresent = false;
  ws.cmapSize = 0;
  std::FILE* f = std::fopen(ws.cmapPath.c_str(), "rb");
  if (f == nullptr) return;
  ws.cmapPresent = true;
  ws.cmapSize = (int32_t)std::fread(ws.cmapImage.data(), 1, ws.cmapImage.size(), f);
  std::fclose(f);
}

// Reads start, end and value arrays of `count` entries at `offset` of the
// image; the count is set only when the value array arrived whole.
void LoadTable(const PdfWorkspace& ws, PdfRangeTable& t, int32_t offset, int32_t count) {
  int32_t pos = offset;
  int32_t lastGot = 0;
  for (uint16_t* dst : {t.start.get(), t.end.get(), t.value.get()}) {
    const int32_t avail = pos < ws.cmapSize ? ws.cmapSize - pos : 0;
    lastGot = std::min(avail, count * 2);
    for (int32_t i = 0; i < lastGot / 2; ++i) {
      dst[i] = (uint16_t)(ws.cmapImage[pos + 2 * i] | (ws.cmapImage[pos + 2 * i + 1] << 8));
    }
    pos += lastGot;
  }
  if (lastGot == count * 2) t.count = count;
}

int HexNibble(unsigned char c, int previous) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return previous;
}

uint16_t TokenValue(std::string_view token) {
  if (!token.empty() && token[0] == '<') {
    if (token.size() < 2) return 0;
    return (uint16_t)ParseHexNumber(token.substr(1, token.size() - 2));
  }
  return (uint16_t)ReadDecimal(token);
}

// One bfchar or bfrange line: "a b c" maps a..b from c, "a b" maps a to b.
void StoreMapLine(PdfRangeTable& t, int32_t index, std::string_view line) {
  line = Trim(line);
  std::string_view a = line, b, c;
  const size_t s1 = line.find(' ');
  if (s1 != std::string_view::npos) {
    a = line.substr(0, s1);
    std::string_view rest = Trim(line.substr(s1 + 1));
    b = rest;
    const size_t s2 = rest.find(' ');
    if (s2 != std::string_view::npos) {
      b = rest.substr(0, s2);
      c = rest.substr(s2 + 1);
    }
  }
  a = Trim(a);
  b = Trim(b);
  c = Trim(c);
  if (c.empty()) {
    c = b;
    b = a;
  }
  t.start[index] = TokenValue(a);
  t.end[index] = TokenValue(b);
  t.value[index] = TokenValue(c);
}

bool AtBlockStart(const unsigned char* d, int32_t n, int64_t p) {
  return MatchAt(d, n, p, "beginbfrange") || MatchAt(d, n, p, "beginbfchar");
}
bool AtBlockEnd(const unsigned char* d, int32_t n, int64_t p) {
  return MatchAt(d, n, p, "endbfrange") || MatchAt(d, n, p, "endbfchar");
}
// From a block start to just after the next LF (or the end of the data).
int64_t EnterBlock(const unsigned char* d, int32_t n, int64_t p) {
  p += 11;
  while (p < n && d[p] != '\n') ++p;
  return p < n ? p + 1 : n;
}

// The strings of one stream go here while they fit the room left.
struct Output {
  char* dst;
  int32_t capacity;
  int32_t count = 0;
  void Append(const void* s, int32_t n) {
    if (n + count < capacity - 5) {
      std::memcpy(dst + count, s, (size_t)n);
      count += n;
    }
  }
};

// At data[pos] == '('. Leaves pos on the closing ')' or, for a string cut at
// its length limit, on the first byte not taken.
void ReadLiteral(const unsigned char* data, int32_t length, int32_t& pos, Output& out) {
  unsigned char collected[kCollectorRoom + 2];
  int32_t n = 0;
  int32_t p = pos + 1;
  bool ended = false;
  while (p < length - 1 && n < kCollectorRoom) {
    const unsigned char c = data[p];
    if (c == '\\') {
      const unsigned char next = data[p + 1];
      collected[n++] = (next == ')' || next == '(' || next == '/') ? next : ' ';
      p += 2;
    } else if (c == ')') {
      ended = true;
      break;
    } else {
      collected[n++] = c;
      ++p;
    }
    if (n > kLiteralCut) {
      ended = true;
      break;
    }
  }
  pos = p;
  if (ended) out.Append(collected, n);
}

// At data[pos] == '<'. Leaves pos on the closing '>' or on the first byte not
// taken.
void ReadHex(PdfWorkspace& ws, unsigned char* data, int32_t length, int32_t& pos, Output& out) {
  unsigned char collected[kCollectorRoom + 2];
  int32_t n = 0;
  int32_t p = pos + 1;
  bool ended = false;
  int high = 0, low = 0;
  while (p < length - 1 && n < kCollectorRoom) {
    const unsigned char c = data[p];
    if (c == '>' || n == kHexCut) {
      ended = true;
      break;
    }
    if (IsLineEnd(c)) {
      ++p;
      continue;
    }
    if (IsLineEnd(data[p + 1])) {
      // Join a pair split by a line break: the digit moves onto the break.
      data[p + 1] = c;
      ++p;
      continue;
    }
    high = HexNibble(c, high);
    low = HexNibble(data[p + 1], low);
    collected[n++] = (unsigned char)(high << 4 | low);
    p += 2;
  }
  pos = p;
  if (!ended) return;
  char decoded[kDecodedRoom];
  const int32_t m = DecodeHexText(ws, collected, decoded, n);
  if (m > 0) out.Append(decoded, m);
}

}  // namespace

uint32_t ParseHexNumber(std::string_view digits) {
  size_t i = 0;
  while (i < digits.size() && (digits[i] == ' ' || (digits[i] >= '\t' && digits[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < digits.size() && (digits[i] == '+' || digits[i] == '-')) negative = digits[i++] == '-';
  if (i + 1 < digits.size() && digits[i] == '0' && (digits[i + 1] == 'x' || digits[i + 1] == 'X') &&
      i + 2 < digits.size() && HexNibble((unsigned char)digits[i + 2], -1) >= 0) {
    i += 2;
  }
  uint32_t v = 0;
  bool any = false;
  for (; i < digits.size(); ++i) {
    const int h = HexNibble((unsigned char)digits[i], -1);
    if (h < 0) break;
    v = v << 4 | (uint32_t)h;
    any = true;
  }
  if (!any) return 0;
  return negative ? 0u - v : v;
}

int32_t DecodeHexText(PdfWorkspace& ws, const unsigned char* bytes, char* dst, int32_t count) {
  const int32_t codes = count / 2;
  int32_t w = 0;
  if (ws.toUnicodeLoaded) {
    for (int32_t i = 0; i < codes && i < kMaxUnits; ++i) {
      const uint16_t code = (uint16_t)(bytes[2 * i] << 8 | bytes[2 * i + 1]);
      const uint16_t unit = MapThroughRanges(ws.toUnicode, code);
      if (i == 0 && (unit == 0xFEFF || unit == 0xFFFE)) continue;
      const int sjis = Utf16ToCp932(unit);
      if (sjis < 0) {
        dst[w++] = ' ';
      } else if (sjis < 0x100) {
        dst[w++] = (char)sjis;
      } else {
        dst[w++] = (char)(sjis >> 8);
        dst[w++] = (char)(sjis & 0xFF);
      }
    }
  } else if (ws.predefinedLoaded) {
    for (int32_t i = 0; i < codes && w + 2 <= kMaxCmapBytes; ++i) {
      const uint16_t code = (uint16_t)(bytes[2 * i] << 8 | bytes[2 * i + 1]);
      const uint16_t v = MapThroughRanges(ws.cid, MapThroughRanges(ws.predefined, code));
      dst[w++] = (char)(v >> 8);
      dst[w++] = (char)(v & 0xFF);
    }
  } else {
    return 0;
  }
  dst[w] = '\0';
  return (int32_t)std::strlen(dst);
}

// "BT" or "ET" at pos as an operator: followed by a line end, or (as in
// "BT /F1 12 Tf" on one line, which most producers write) by a space, tab or
// form feed when it also stands apart from what came before.
static bool OperatorAt(const unsigned char* data, int32_t length, int32_t pos, const char* op) {
  if (!MatchAt(data, length, pos, op)) return false;
  const unsigned char next = data[pos + 2];
  if (IsLineEnd(next)) return true;
  if (next != ' ' && next != '\t' && next != '\f') return false;
  if (pos == 0) return true;
  const unsigned char prev = data[pos - 1];
  return prev == ' ' || prev == '\t' || prev == '\f' || IsLineEnd(prev);
}

int32_t ExtractContentText(PdfWorkspace& ws, unsigned char* data, int32_t length, char* dst,
                           int32_t capacity) {
  if (length < 1) return 0;
  Output out{dst, capacity};
  bool header = true;
  int32_t suspicious = 0;
  int32_t pos = 0;
  while (pos < length - 4) {
    if (header) {
      if (MatchAt(data, length, pos, "/cmap")) return 0;
      if (suspicious > 10) return 0;
      const unsigned char c = data[pos];
      if ((c < 0x20 && !IsLineEnd(c)) || c >= 0x80) ++suspicious;
    }
    if (OperatorAt(data, length, pos, "bt")) {
      header = false;
      bool closed = false;
      while (pos < length - 4) {
        if (OperatorAt(data, length, pos, "et")) {
          ++pos;
          closed = true;
          break;
        }
        if (data[pos] == '(') ReadLiteral(data, length, pos, out);
        if (pos < length && data[pos] == '<') ReadHex(ws, data, length, pos, out);
        ++pos;
      }
      if (closed) continue;
    }
    ++pos;
  }
  return out.count;
}

int LoadToUnicodeMap(PdfWorkspace& ws, const unsigned char* data, int32_t length) {
  if (length < 0) length = 0;
  int64_t lines = 0;
  for (int64_t p = 0; p < length;) {
    if (!AtBlockStart(data, length, p)) {
      ++p;
      continue;
    }
    p = EnterBlock(data, length, p);
    for (; p < length && !AtBlockEnd(data, length, p); ++p) {
      if (data[p] == '\n') ++lines;
    }
  }
  // A map without lines leaves the table that was loaded before it.
  if (lines == 0) return 0;
  PdfRangeTable& t = ws.toUnicode;
  t.count = (int32_t)std::min<int64_t>(lines, kPdfMaxRanges);
  ws.toUnicodeLoaded = true;

  char line[kMapLineRoom + 1];
  int32_t lineLength = 0;
  int32_t numbered = 0;
  for (int64_t p = 0; p < length && numbered < kPdfMaxRanges;) {
    if (!AtBlockStart(data, length, p)) {
      ++p;
      continue;
    }
    p = EnterBlock(data, length, p);
    lineLength = 0;
    for (; p < length && numbered < kPdfMaxRanges && !AtBlockEnd(data, length, p); ++p) {
      const unsigned char c = data[p];
      if (c == '\n') {
        if (numbered < t.count) StoreMapLine(t, numbered, std::string_view(line, lineLength));
        ++numbered;
        lineLength = 0;
        continue;
      }
      // A line too long for the holder keeps overwriting its last place.
      const int32_t at = lineLength < kMapLineRoom ? lineLength++ : kMapLineRoom - 1;
      line[at] = c == '\r' ? ' ' : (char)c;
    }
  }
  return 1;
}

int LoadPredefinedCMap(PdfWorkspace& ws, std::string_view name) {
  ws.predefined.count = 0;
  ws.cid.count = 0;
  int32_t offset = 0, count = 0;
  for (const NamedCmap& m : kNamedCmaps) {
    if (PrefixMatches(name, m)) {
      offset = m.offset;
      count = m.count;
    }
  }
  ws.predefinedLoaded = true;
  if (!ws.cmapRead) ReadCmapFile(ws);
  if (!ws.cmapPresent) return 0;
  if (offset > 0) LoadTable(ws, ws.predefined, offset, count);
  LoadTable(ws, ws.cid, 0, kCidTableCount);
  return 1;
}

}  // namespace kuribo
