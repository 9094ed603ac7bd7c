#include "extract/office/properties.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

// The iconv name of a Windows code page; null for those whose bytes are taken
// as they are (code page 932 itself, none given) or decoded without iconv.
const char* IconvName(unsigned codePage, char* scratch, size_t room) {
  switch (codePage) {
    case 0:
    case 932:
    case 10001:  // Mac Japanese: Shift_JIS
    case 65001:
      return nullptr;
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 10000: return "MACINTOSH";
    case 20127: return "ASCII";
    case 20932:
    case 51932: return "EUC-JP";
    case 50220:
    case 50221:
    case 50222: return "ISO-2022-JP";
    case 936: return "GBK";
    case 950: return "BIG5";
    default:
      if (codePage >= 28591 && codePage <= 28599) {
        std::snprintf(scratch, room, "ISO-8859-%u", codePage - 28590);
      } else {
        std::snprintf(scratch, room, "CP%u", codePage);
      }
      return scratch;
  }
}

// One section's string values, converted from the section's code page.
class SectionReader {
 public:
  explicit SectionReader(Bytes section) : section_(section) {
    Bytes cp = FindProperty(section, 1);
    if (cp.size >= 6 && (Le16(cp.data) == kVtI2 || Le16(cp.data) == kVtUi2))
      codePage_ = Le16(cp.data + 4);
  }
  ~SectionReader() {
    if (cd_ != (iconv_t)-1) iconv_close(cd_);
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
    if (!opened_) {
      opened_ = true;
      char scratch[24];
      if (const char* name = IconvName(codePage_, scratch, sizeof scratch))
        cd_ = iconv_open("UTF-16LE", name);
    }
    if (cd_ == (iconv_t)-1) {
      out.append(reinterpret_cast<const char*>(s), len);
      return;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(s));
    size_t inLeft = len;
    char16_t pending = 0;  // a high surrogate waiting for its partner
    while (inLeft > 0) {
      char buf[512];
      char* o = buf;
      size_t oLeft = sizeof buf;
      const size_t rc = iconv(cd_, &in, &inLeft, &o, &oLeft);
      const int err = rc == (size_t)-1 ? errno : 0;
      for (char* u = buf; u + 1 < o; u += 2) {
        const char16_t unit = (char16_t)((unsigned char)u[0] | ((unsigned char)u[1] << 8));
        if (pending) {
          pending = 0;
          if (unit >= 0xDC00 && unit <= 0xDFFF) {
            out.push_back(' ');
            continue;
          }
          out.push_back(' ');
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          pending = unit;
          continue;
        }
        AppendCp932(out, unit, ' ');
      }
      if (err == EILSEQ) {
        // A byte the code page does not define: one space, then go on.
        out.push_back(' ');
        ++in;
        --inLeft;
      } else if (err != 0 && err != E2BIG) {
        break;  // cut short at the end
      }
    }
    if (pending) out.push_back(' ');
  }

  Bytes section_;
  unsigned codePage_ = 0;
  bool opened_ = false;
  iconv_t cd_ = (iconv_t)-1;
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
