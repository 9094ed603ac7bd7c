// Builds cmap.dat from the Adobe-Japan1 CMap files:
//   cmapgen CMAP_DIR OUTPUT
// The file is seven range tables (start, end and value arrays of 16-bit
// little-endian integers each) with fixed offsets and counts: first the CID
// table (character identifier -> two-byte Shift_JIS code), then six named
// CMaps (character code -> character identifier) in their file order.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "encoding/sjis.h"

namespace {

struct Range {
  uint32_t start;
  uint32_t end;
  uint32_t value;
  bool notdef = false;
};

// An entry that covers no code (start above end): fills a table to its count.
const Range kEmpty{1, 0, 0};

bool Fail(const std::string& message) {
  std::fprintf(stderr, "cmapgen: %s\n", message.c_str());
  return false;
}

bool ParseHex(const std::string& token, uint32_t& out) {
  if (token.size() < 3 || token.front() != '<' || token.back() != '>') return false;
  out = (uint32_t)std::stoul(token.substr(1, token.size() - 2), nullptr, 16);
  return true;
}

// The cidrange, cidchar and notdefrange entries of one CMap, in file order.
bool ReadCmap(const std::string& path, std::vector<Range>& out) {
  std::ifstream in(path);
  if (!in) return Fail("cannot read " + path);
  std::string line, block;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    if (w.empty()) continue;
    const std::string& last = w.back();
    if (last == "begincidrange" || last == "begincidchar" || last == "beginnotdefrange") {
      block = last;
      continue;
    }
    if (last == "endcidrange" || last == "endcidchar" || last == "endnotdefrange") {
      block.clear();
      continue;
    }
    if (block.empty()) continue;
    Range r;
    if (block == "begincidchar") {
      if (w.size() != 2 || !ParseHex(w[0], r.start)) return Fail("bad cidchar in " + path);
      r.end = r.start;
      r.value = (uint32_t)std::stoul(w[1]);
    } else {
      if (w.size() != 3 || !ParseHex(w[0], r.start) || !ParseHex(w[1], r.end)) {
        return Fail("bad range in " + path);
      }
      r.value = (uint32_t)std::stoul(w[2]);
      r.notdef = block == "beginnotdefrange";
    }
    if (r.start > 0xFFFF || r.end > 0xFFFF || r.value > 0xFFFF || r.end < r.start) {
      return Fail("entry beyond 16 bits in " + path);
    }
    out.push_back(r);
  }
  return true;
}

// Brings a named table to its fixed count: surplus notdef entries are dropped
// first (they only cover control codes), a shortfall is filled with empty
// entries at the end.
bool FitToCount(std::vector<Range>& t, size_t count, const std::string& name) {
  for (size_t i = 0; t.size() > count && i < t.size();) {
    if (t[i].notdef) {
      t.erase(t.begin() + (long)i);
    } else {
      ++i;
    }
  }
  if (t.size() > count) return Fail(name + " has more entries than its table holds");
  while (t.size() < count) t.push_back(kEmpty);
  return true;
}

// Character identifier -> code, inverted from code -> identifier entries; the
// first code of an identifier wins (the file order puts JIS X 0208 first).
void Invert(const std::vector<Range>& entries, bool twoByteOnly, std::map<uint32_t, uint32_t>& inv) {
  for (const Range& r : entries) {
    if (r.notdef || (twoByteOnly && r.start < 0x100)) continue;
    for (uint32_t c = r.start; c <= r.end; ++c) inv.emplace(r.value + (c - r.start), c);
  }
}

std::vector<Range> ToRanges(const std::map<uint32_t, uint32_t>& inv) {
  std::vector<Range> out;
  for (const auto& [cid, code] : inv) {
    if (!out.empty() && cid == out.back().end + 1 &&
        code == out.back().value + (cid - out.back().start)) {
      out.back().end = cid;
    } else {
      out.push_back({cid, cid, code});
    }
  }
  return out;
}

// Runs of ASCII 0x20-0x7E whose full-width forms have consecutive codes.
std::vector<Range> FullWidthRuns() {
  std::vector<Range> runs;
  for (uint32_t c = 0x20; c <= 0x7E; ++c) {
    const char16_t wide = c == 0x20 ? u'\u3000' : (char16_t)(0xFF01 + (c - 0x21));
    const int code = kuribo::Utf16ToCp932(wide);
    if (code < 0x100) continue;
    if (!runs.empty() && c == runs.back().end + 1 &&
        (uint32_t)code == runs.back().value + (c - runs.back().start)) {
      runs.back().end = c;
    } else {
      runs.push_back({c, c, (uint32_t)code});
    }
  }
  // Letters, digits and the commonest punctuation first.
  const std::string order = " 0aA(:,.-/!?&'\"%@#+=*_;<>[]{}|~^`$\\";
  auto rank = [&](const Range& r) {
    size_t best = order.size();
    for (uint32_t c = r.start; c <= r.end; ++c) best = std::min(best, order.find((char)c));
    return best;
  };
  std::stable_sort(runs.begin(), runs.end(),
                   [&](const Range& a, const Range& b) { return rank(a) < rank(b); });
  return runs;
}

// Identifiers -> two-byte Shift_JIS: the inverse of 90ms-RKSJ-H's two-byte
// codes and of 90ms-RKSJ-V's vertical forms, the half-width katakana as
// 90ms-RKSJ-H has them, then the Roman identifiers (proportional from 1,
// half-width from 231) as full-width characters, commonest first, as far as
// the 225 entries go.
bool BuildCidTable(const std::vector<Range>& h, const std::vector<Range>& v, size_t count,
                   std::vector<Range>& out) {
  std::map<uint32_t, uint32_t> inv;
  Invert(h, true, inv);
  Invert(v, true, inv);
  for (const Range& r : h) {
    if (r.start == 0xA0 || r.start == 0xA1) {
      for (uint32_t c = r.start; c <= r.end; ++c) inv.emplace(r.value + (c - r.start), c);
    }
  }
  out = ToRanges(inv);
  if (out.size() > count) return Fail("CID table overflows");
  for (const Range& run : FullWidthRuns()) {
    for (uint32_t base : {231u, 1u}) {
      if (out.size() == count) break;
      out.push_back({base + run.start - 0x20, base + run.end - 0x20, run.value});
    }
  }
  std::sort(out.begin(), out.end(), [](const Range& a, const Range& b) { return a.start < b.start; });
  while (out.size() < count) out.push_back(kEmpty);
  return true;
}

void Write(std::vector<unsigned char>& file, const std::vector<Range>& t) {
  auto put = [&](uint32_t v) {
    file.push_back((unsigned char)(v & 0xFF));
    file.push_back((unsigned char)(v >> 8));
  };
  for (const Range& r : t) put(r.start);
  for (const Range& r : t) put(r.end);
  for (const Range& r : t) put(r.value);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: cmapgen CMAP_DIR OUTPUT\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  struct Named {
    const char* name;
    size_t offset;
    size_t count;
  };
  const Named named[] = {
      {"83pv-RKSJ-H", 1'350, 222}, {"90msp-RKSJ-H", 2'682, 171}, {"90msp-RKSJ-V", 3'708, 78},
      {"90ms-RKSJ-H", 4'176, 172}, {"90ms-RKSJ-V", 5'208, 78},   {"UniJIS-UCS2-H", 5'676, 8'534},
  };
  std::map<std::string, std::vector<Range>> tables;
  for (const Named& n : named) {
    if (!ReadCmap(dir + n.name, tables[n.name])) return 1;
  }
  std::vector<Range> cid;
  if (!BuildCidTable(tables["90ms-RKSJ-H"], tables["90ms-RKSJ-V"], 225, cid)) return 1;

  std::vector<unsigned char> file;
  Write(file, cid);
  for (const Named& n : named) {
    std::vector<Range>& t = tables[n.name];
    if (!FitToCount(t, n.count, n.name)) return 1;
    if (file.size() != n.offset) return Fail(std::string("misplaced table ") + n.name), 1;
    Write(file, t);
  }
  if (file.size() != 56'880) return Fail("wrong file size"), 1;
  std::FILE* f = std::fopen(argv[2], "wb");
  if (f == nullptr || std::fwrite(file.data(), 1, file.size(), f) != file.size() ||
      std::fclose(f) != 0) {
    return Fail(std::string("cannot write ") + argv[2]), 1;
  }
  return 0;
}
