#include "extract/cad/dxf.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "extract/text/compact.h"

namespace kuribo {
namespace {

constexpr int32_t kMaxRead = 999'999;
// Kept text, spaces included, stays below this before compaction.
constexpr int32_t kMaxKept = 99'999;

// Entity, section and table words that carry no text of the drawing's own.
constexpr std::string_view kStructuralWords[] = {
    "CONTINUOUS", "VERTEX",  "LINE",     "BLOCK",  "ENDBLK",    "MTEXTBEGIN", "MTEXT",
    "MTEXTEND",   "ENDSEC",  "SECTION",  "SEQEND", "BLOCKS",    "OBJECTS",    "LAYER",
    "POLYLINE",   "DEFPOINTS", "POINT",  "CIRCLE", "STYLE",     "STANDARD",   "TABLE",
    "ENDTAB",     "CLASS",   "RTEXT",    "INSERT", "LAYOUT",
};

bool IsBlank(unsigned char c) { return c <= 0x20 || c == 0x7F; }

// An optional sign and at least one digit, nothing else, within 32 bits.
bool ReadsAsInteger(std::string_view s) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return false;
  const int64_t limit = negative ? 2'147'483'648LL : 2'147'483'647LL;
  int64_t value = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    value = value * 10 + (s[i] - '0');
    if (value > limit) return false;
  }
  return true;
}

bool IsStructure(std::string_view line) {
  if (line.empty()) return true;
  if (line[0] == '$') return true;  // header variable name
  const size_t dot = line.find('.');
  if (dot == std::string_view::npos) {
    if (ReadsAsInteger(line)) return true;  // group code or integer value
  } else if (ReadsAsInteger(line.substr(0, dot)) && ReadsAsInteger(line.substr(dot + 1))) {
    return true;  // real value in plain decimal form
  }
  if (line.size() >= 2 && line[0] == 'A' && line[1] == 'c') return true;  // subclass marker
  if (line[0] == '{' || line[0] == '}') return true;  // application group
  for (std::string_view word : kStructuralWords) {
    if (line == word) return true;
  }
  return false;
}

}  // namespace

int32_t ExtractDxfBytes(const unsigned char* data, int32_t length, ExtractionContext& ctx) {
  if (data == nullptr || length <= 0 || !ctx.Ready()) return 0;
  const char* bytes = reinterpret_cast<const char*>(data);
  char* text = ctx.text.get();
  int32_t total = 0;
  int32_t start = 0;
  for (int32_t i = 0; i < length; ++i) {
    if (data[i] != '\r' && data[i] != '\n') continue;
    // The line is [start, i); a zero byte ends its text early.
    int32_t end = start;
    while (end < i && data[end] != 0) ++end;
    int32_t from = start;
    while (from < end && IsBlank(data[from])) ++from;
    while (end > from && IsBlank(data[end - 1])) --end;
    start = i + 1;
    const std::string_view line(bytes + from, static_cast<size_t>(end - from));
    if (IsStructure(line)) continue;
    const int32_t size = static_cast<int32_t>(line.size());
    if (total + size + 2 > kMaxKept) break;
    std::memcpy(text + total, line.data(), line.size());
    total += size;
    text[total++] = ' ';
  }
  return CompactText(text, total);
}

int ExtractDxfText(const std::string& path, int32_t /*size*/, ExtractionContext& ctx) {
  if (!ctx.Ready()) return 0;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  const size_t count = std::fread(ctx.file.get(), 1, kMaxRead, f);
  std::fclose(f);
  return ExtractDxfBytes(ctx.file.get(), static_cast<int32_t>(count), ctx);
}

}  // namespace kuribo
