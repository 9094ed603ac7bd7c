#include "extract/office/properties.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "encoding/codepage_tables.h"
#include "encoding/sjis.h"
#include "extract/context.h"
#include "extract/office/compound.h"

namespace kuribo {
namespace {

// Larger streams are read only this far; the values that fit the text limit
// are far shorter.
constexpr size_t kStreamCap = 2u << 20;

constexpr uint16_t kVtLpstr = 30;
constexpr uint16_t kVtI2 = 2;
constexpr uint16_t kVtUi2 = 18;

using Fmtid = unsigned char[16];
// {F29F85E0-4FF9-1068-AB91-08002B27B3D9}
constexpr Fmtid kSummaryInformation = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                       0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
// {D5CDD502-2E9C-101B-9397-08002B2CF9AE}: Category, Manager, Company and the like.
constexpr Fmtid kDocumentSummaryInformation = {0x02, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                               0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};
// {D5CDD505-2E9C-101B-9397-08002B2CF9AE}: the user-defined properties.
constexpr Fmtid kUserDefinedProperties = {0x05, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                          0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};

uint16_t Le16(const unsigned char* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

struct Bytes {
  const unsigned char* data = nullptr;
  size_t size = 0;
};

// The section with format identifier `fmtid` in a property-set stream.
Bytes FindSection(std::string_view stream, const Fmtid& fmtid) {
  const size_t n = stream.size();
  if (n < 28) return {};
  const auto* s = reinterpret_cast<const unsigned char*>(stream.data());
  const uint32_t count = Le32(s + 24);
  for (size_t i = 0; i < count && 28 + 20 * (i + 1) <= n; ++i) {
    const unsigned char* entry = s + 28 + 20 * i;
    if (std::memcmp(entry, fmtid, 16) != 0) continue;
    const uint32_t offset = Le32(entry + 16);
    if (offset > n || n - offset < 8) return {};
    const size_t size = std::min<size_t>(Le32(s + offset), n - offset);
    if (size < 8) return {};
    return {s + offset, size};
  }
  return {};
}

// The value bytes (type and all) of property `id`; empty when absent.
Bytes FindProperty(Bytes section, uint32_t id) {
  const size_t count = std::min<size_t>(Le32(section.data + 4), (section.size - 8) / 8);
  for (size_t k = 0; k < count; ++k) {
    const unsigned char* pair = section.data + 8 + 8 * k;
    if (Le32(pair) != id) continue;
    const uint32_t offset = Le32(pair + 4);
    if (offset > section.size || section.size - offset < 4) return {};
    return {section.data + offset, section.size - offset};
  }
  return {};
}

// The decoding table of a code page whose bytes are converted; null for those
// taken as they are (code page 932 itself, none given) or decoded by rule.
const tables::CodePageTable* FindCodePage(unsigned codePage) {
  if (codePage == 20932) codePage = 51932;  // EUC-JP both
  for (size_t i = 0; i < tables::kCodePageCount; ++i)
    if (tables::kCodePages[i].codePage == codePage) return &tables::kCodePages[i];
  return nullptr;
}

// A code page's codes (one byte, or lead << 8 | trail) as UTF-16 units.
class CodePageDecoder {
 public:
  explicit CodePageDecoder(const tables::CodePageTable& t) : units_(65536, kNone) {
    lead_.fill(false);
    for (size_t i = 0; i < t.leadCount; ++i) lead_[t.leads[i]] = true;
    for (size_t i = 0; i < t.count; ++i) units_[t.pairs[2 * i]] = t.pairs[2 * i + 1];
  }
  bool IsLead(unsigned char c) const { return lead_[c]; }
  // The unit of `code`, or -1.
  int Unit(unsigned code) const { return units_[code] == kNone ? -1 : units_[code]; }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  std::vector<uint32_t> units_;
  std::array<bool, 256> lead_;
};

int Jis0212Unit(unsigned row, unsigned cell) {
  static const std::vector<int32_t> units = [] {
    std::vector<int32_t> u(94 * 94, -1);
    for (size_t i = 0; i < tables::kJis0212DecodeCount; ++i)
      u[tables::kJis0212Decode[2 * i]] = tables::kJis0212Decode[2 * i + 1];
    return u;
  }();
  if (row < 0xA1 || row > 0xFE || cell < 0xA1 || cell > 0xFE) return -1;
  return units[(row - 0xA1) * 94 + (cell - 0xA1)];
}

// One section's string values, converted from the section's code page.
class SectionReader {
 public:
  explicit SectionReader(Bytes section) : section_(section) {
    Bytes cp = FindProperty(section, 1);
    if (cp.size >= 6 && (Le16(cp.data) == kVtI2 || Le16(cp.data) == kVtUi2))
      codePage_ = Le16(cp.data + 4);
  }
  SectionReader(const SectionReader&) = delete;
  SectionReader& operator=(const SectionReader&) = delete;

  // Appends " " and the value of property `id` when it is a non-empty VT_LPSTR.
  void Append(uint32_t id, std::string& out) {
    Bytes v = FindProperty(section_, id);
    if (v.size < 8 || Le16(v.data) != kVtLpstr) return;
    const size_t declared = Le32(v.data + 4);
    const unsigned char* s = v.data + 8;
    size_t len = std::min<size_t>(declared, v.size - 8);
    const bool wide = codePage_ == 1200 || codePage_ == 1201;
    // The string ends at its first NUL (a NUL unit for UTF-16).
    if (wide) {
      len &= ~(size_t)1;
      for (size_t i = 0; i < len; i += 2) {
        if (s[i] == 0 && s[i + 1] == 0) {
          len = i;
          break;
        }
      }
    } else if (const void* nul = std::memchr(s, 0, len)) {
      len = (size_t)(static_cast<const unsigned char*>(nul) - s);
    }
    if (len == 0) return;
    out.push_back(' ');
    Convert(s, len, out);
  }

 private:
  void Convert(const unsigned char* s, size_t len, std::string& out) {
    if (codePage_ == 65001) {
      out += Utf8ToSjis(std::string_view(reinterpret_cast<const char*>(s), len), ' ');
      return;
    }
    if (codePage_ == 1200 || codePage_ == 1201) {
      ConvertUtf16(s, len, codePage_ == 1201, out);
      return;
    }
    const bool iso2022 = codePage_ >= 50220 && codePage_ <= 50222;
    if (!opened_) {
      opened_ = true;
      if (const tables::CodePageTable* t = FindCodePage(iso2022 ? 51932 : codePage_))
        decoder_ = std::make_unique<CodePageDecoder>(*t);
    }
    if (!decoder_) {
      out.append(reinterpret_cast<const char*>(s), len);
      return;
    }
    if (iso2022) {
      ConvertIso2022(s, len, out);
      return;
    }
    const bool euc = codePage_ == 20932 || codePage_ == 51932;
    size_t i = 0;
    while (i < len) {
      const unsigned char c = s[i];
      int unit = -1;
      if (euc && c == 0x8F) {
        if (i + 2 >= len) break;  // cut short at the end
        unit = Jis0212Unit(s[i + 1], s[i + 2]);
        i += unit >= 0 ? 3 : 1;
      } else if (decoder_->IsLead(c)) {
        if (i + 1 >= len) break;
        unit = decoder_->Unit((unsigned)c << 8 | s[i + 1]);
        i += unit >= 0 ? 2 : 1;
      } else {
        unit = decoder_->Unit(c);
        ++i;
      }
      // A byte the code page does not define: one space, then go on.
      if (unit < 0) {
        out.push_back(' ');
      } else {
        AppendCp932(out, (char16_t)unit, ' ');
      }
    }
  }

  static void ConvertUtf16(const unsigned char* s, size_t len, bool bigEndian, std::string& out) {
    for (size_t i = 0; i + 1 < len; i += 2) {
      const char16_t unit = bigEndian ? (char16_t)(s[i] << 8 | s[i + 1]) : (char16_t)(s[i] | s[i + 1] << 8);
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < len) {
        const char16_t next = bigEndian ? (char16_t)(s[i + 2] << 8 | s[i + 3]) : (char16_t)(s[i + 2] | s[i + 3] << 8);
        if (next >= 0xDC00 && next <= 0xDFFF) i += 2;
        out.push_back(' ');
      } else if (unit >= 0xD800 && unit <= 0xDFFF) {
        out.push_back(' ');
      } else {
        AppendCp932(out, unit, ' ');
      }
    }
  }

  // ISO-2022-JP: escape sequences switch between ASCII, JIS X 0208 (read as
  // EUC-JP with the high bit set), half-width katakana and JIS X 0212.
  void ConvertIso2022(const unsigned char* s, size_t len, std::string& out) {
    enum { kAscii, k0208, kKana, k0212 } mode = kAscii;
    size_t i = 0;
    while (i < len) {
      const unsigned char c = s[i];
      if (c == 0x1B && i + 2 < len) {
        const unsigned char a = s[i + 1], b = s[i + 2];
        if (a == '(' && (b == 'B' || b == 'J')) { mode = kAscii; i += 3; continue; }
        if (a == '(' && b == 'I') { mode = kKana; i += 3; continue; }
        if (a == '$' && (b == 'B' || b == '@')) { mode = k0208; i += 3; continue; }
        if (a == '$' && b == '(' && i + 3 < len && s[i + 3] == 'D') { mode = k0212; i += 4; continue; }
        if (a == '$' && b == '(' && i + 3 < len && s[i + 3] == 'B') { mode = k0208; i += 4; continue; }
      }
      if (c == 0x0E) { mode = kKana; ++i; continue; }
      if (c == 0x0F) { mode = kAscii; ++i; continue; }
      if (c < 0x21 || c > 0x7E || mode == kAscii) {
        out.push_back(c >= 0x80 ? ' ' : (char)c);
        ++i;
        continue;
      }
      if (mode == kKana) {
        AppendCp932(out, (char16_t)(0xFF61 + (c - 0x21)), ' ');
        ++i;
        continue;
      }
      if (i + 1 >= len) break;
      const int unit = mode == k0212 ? Jis0212Unit(c | 0x80, s[i + 1] | 0x80)
                                     : decoder_->Unit((unsigned)(c | 0x80) << 8 | (s[i + 1] | 0x80));
      if (unit < 0) {
        out.push_back(' ');
      } else {
        AppendCp932(out, (char16_t)unit, ' ');
      }
      i += 2;
    }
  }

  Bytes section_;
  unsigned codePage_ = 0;
  bool opened_ = false;
  std::unique_ptr<CodePageDecoder> decoder_;
};

void ReadStream(CompoundFile& cfb, const char* name, std::string& out) {
  out.clear();
  const int64_t size = cfb.StreamSize(name);
  if (size <= 0) return;
  out.resize(std::min<size_t>((size_t)size, kStreamCap));
  const int64_t got = cfb.ReadStream(name, reinterpret_cast<unsigned char*>(out.data()), out.size());
  out.resize(got > 0 ? (size_t)got : 0);
}

// Appends the string properties 2 to 19 of one section.
void CollectSection(Bytes section, std::string& collected) {
  if (!section.data) return;
  SectionReader reader(section);
  for (uint32_t id = 2; id <= 19; ++id) {
    // Past the limit nothing is added at all, so there is no point reading on.
    if (collected.size() >= (size_t)kMaxTextLength) return;
    reader.Append(id, collected);
  }
}

bool IsTrimmed(unsigned char c) { return c <= 0x20 || c == 0x7F; }

}  // namespace

std::string CollectDocumentProperties(std::string_view summaryInformation,
                                      std::string_view documentSummaryInformation) {
  std::string collected;
  CollectSection(FindSection(summaryInformation, kSummaryInformation), collected);
  CollectSection(FindSection(documentSummaryInformation, kDocumentSummaryInformation), collected);
  CollectSection(FindSection(documentSummaryInformation, kUserDefinedProperties), collected);
  return collected;
}

int32_t AppendDocumentProperties(const std::string& path, char* dst, int32_t textLength) {
  CompoundFile cfb;
  if (!cfb.Open(path)) return textLength;
  std::string summary, docSummary;
  ReadStream(cfb, "\005SummaryInformation", summary);
  ReadStream(cfb, "\005DocumentSummaryInformation", docSummary);
  const std::string collected = CollectDocumentProperties(summary, docSummary);

  if ((int64_t)textLength + (int64_t)collected.size() >= kMaxTextLength) return textLength;
  size_t begin = 0, end = collected.size();
  while (begin < end && IsTrimmed((unsigned char)collected[begin])) ++begin;
  while (end > begin && IsTrimmed((unsigned char)collected[end - 1])) --end;
  std::memcpy(dst, collected.data() + begin, end - begin);
  dst[end - begin] = '\0';
  return textLength + (int32_t)(end - begin);
}

}  // namespace kuribo
