#include "extract/text/openxml.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "encoding/sjis.h"

namespace kuribo {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 character at s[i] (i < len) and moves i past it. A
// malformed sequence yields U+FFFD and consumes only its valid prefix (at least
// one byte), so the bytes after it are decoded on their own.
char32_t DecodeUtf8(const unsigned char* s, size_t len, size_t& i) {
  const unsigned char c = s[i];
  if (c < 0x80) {
    ++i;
    return c;
  }
  int need;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 2;
    cp = c & 0x0F;
    if (c == 0xE0) lo = 0xA0;  // overlong
    if (c == 0xED) hi = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 3;
    cp = c & 0x07;
    if (c == 0xF0) lo = 0x90;  // overlong
    if (c == 0xF4) hi = 0x8F;  // beyond U+10FFFF
  } else {
    ++i;
    return kReplacement;
  }
  size_t j = i + 1;
  for (int k = 0; k < need; ++k, ++j) {
    if (j >= len) {
      i = j;
      return kReplacement;
    }
    const unsigned char cc = s[j];
    const unsigned char min = k == 0 ? lo : 0x80;
    const unsigned char max = k == 0 ? hi : 0xBF;
    if (cc < min || cc > max) {
      i = j;
      return kReplacement;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i = j;
  return cp;
}

bool IsByteOrderMark(char32_t cp) { return cp == 0xFEFF || cp == 0xFFFE; }

uint16_t Le16(const unsigned char* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

bool IsSignature(const unsigned char* p, unsigned char a, unsigned char b) {
  return p[0] == 'P' && p[1] == 'K' && p[2] == a && p[3] == b;
}

// The central directory, consulted only for members whose local header carries
// no sizes (written with a data descriptor). Built on first use.
class CentralDirectory {
 public:
  CentralDirectory(const unsigned char* data, size_t size) : data_(data), size_(size) {}

  struct Entry {
    std::string_view name;
    uint32_t headerOffset;
    uint32_t compressedSize;
  };

  // The entry named `name`, preferring the one that points at the local header
  // at `headerOffset` when the name occurs more than once.
  const Entry* Find(std::string_view name, uint32_t headerOffset) {
    if (!built_) Build();
    auto range = std::equal_range(entries_.begin(), entries_.end(), Entry{name, 0, 0}, ByName);
    if (range.first == range.second) return nullptr;
    for (auto it = range.first; it != range.second; ++it)
      if (it->headerOffset == headerOffset) return &*it;
    return &*range.first;
  }

 private:
  static bool ByName(const Entry& a, const Entry& b) { return a.name < b.name; }

  void Build() {
    built_ = true;
    if (size_ < 22) return;
    // The end record sits in the last 22 bytes plus a comment of up to 65,535.
    size_t end = 0;
    bool found = false;
    const size_t lowest = size_ - 22 > 65535 ? size_ - 22 - 65535 : 0;
    for (size_t e = size_ - 22 + 1; e-- > lowest;) {
      if (IsSignature(data_ + e, 5, 6)) {
        end = e;
        found = true;
        break;
      }
    }
    if (!found) return;
    const uint32_t dirSize = Le32(data_ + end + 12);
    const uint32_t dirOffset = Le32(data_ + end + 16);
    if (dirOffset > end || dirSize > end - dirOffset) return;
    const size_t dirEnd = (size_t)dirOffset + dirSize;
    size_t p = dirOffset;
    while (p + 46 <= dirEnd && IsSignature(data_ + p, 1, 2)) {
      const size_t nameLength = Le16(data_ + p + 28);
      const size_t next = p + 46 + nameLength + Le16(data_ + p + 30) + Le16(data_ + p + 32);
      if (p + 46 + nameLength > dirEnd) break;
      entries_.push_back(Entry{
          std::string_view(reinterpret_cast<const char*>(data_ + p + 46), nameLength),
          Le32(data_ + p + 42), Le32(data_ + p + 20)});
      p = next;
    }
    std::stable_sort(entries_.begin(), entries_.end(), ByName);
  }

  const unsigned char* data_;
  size_t size_;
  bool built_ = false;
  std::vector<Entry> entries_;
};

// Appends one converted member to the text under the space rule of the text
// as a whole; a tag yields one space. Returns the new text length.
int32_t AppendStripped(const unsigned char* src, size_t length, unsigned char* text, int32_t t) {
  auto space = [&] {
    if (t > 0 && text[t - 1] != ' ') text[t++] = ' ';
  };
  size_t r = 0;
  while (r < length) {
    const unsigned char c = src[r];
    if (c == 0x81 && r + 1 < length && src[r + 1] == 0x40) {
      r += 2;
      space();
    } else if (IsLeadByte(c) && r + 1 < length) {
      text[t++] = c;
      text[t++] = src[r + 1];
      r += 2;
    } else if (c == '<') {
      while (r < length && src[r] != '>') ++r;
      if (r < length) ++r;
      space();
    } else if (c == ' ' || !IsPrintableSingle(c)) {
      ++r;
      space();
    } else {
      text[t++] = c;
      ++r;
    }
  }
  return t;
}

// Reads up to `room` bytes of a file; -1 when it cannot be opened.
int64_t ReadHead(const std::string& path, unsigned char* dst, size_t room) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return -1;
  const size_t got = std::fread(dst, 1, room, f);
  std::fclose(f);
  return (int64_t)got;
}

class Inflater {
 public:
  Inflater() { ok_ = inflateInit2(&z_, -15) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&z_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Inflates raw deflate data into dst; returns the bytes produced (whatever
  // came before an error) and whether the deflate stream ended.
  size_t Run(const unsigned char* src, size_t srcLength, unsigned char* dst, size_t room,
             bool* ended = nullptr, size_t* consumed = nullptr) {
    if (ended) *ended = false;
    if (consumed) *consumed = 0;
    if (!ok_ || inflateReset(&z_) != Z_OK) return 0;
    z_.next_in = const_cast<Bytef*>(src);
    z_.avail_in = (uInt)srcLength;
    z_.next_out = dst;
    z_.avail_out = (uInt)room;
    const int rc = inflate(&z_, Z_SYNC_FLUSH);
    if (ended) *ended = rc == Z_STREAM_END;
    if (consumed) *consumed = z_.total_in;
    return z_.total_out;
  }

 private:
  z_stream z_{};
  bool ok_ = false;
};

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const char32_t cp = DecodeUtf8(s, utf8.size(), i);
    if (cp >= 0x10000) {
      out.push_back((char16_t)(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back((char16_t)(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back((char16_t)cp);
    }
  }
  return out;
}

std::string Utf16ToShiftJis(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 2);
  size_t i = 0;
  if (!utf16.empty() && IsByteOrderMark(utf16[0])) i = 1;
  for (; i < utf16.size(); ++i) {
    const char16_t u = utf16[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      ++i;
      out.push_back(' ');
      continue;
    }
    AppendCp932(out, u, ' ');
  }
  return out;
}

size_t Utf8ToShiftJis(const unsigned char* src, size_t length, unsigned char* dst) {
  size_t i = 0, w = 0;
  bool first = true;
  while (i < length) {
    const size_t start = i;
    const char32_t cp = DecodeUtf8(src, length, i);
    if (first) {
      first = false;
      if (IsByteOrderMark(cp)) continue;
    }
    const int code = cp < 0x10000 ? Utf16ToCp932((char16_t)cp) : -1;
    // A two-byte code from a one-byte character would overtake the input.
    if (code < 0 || (code >= 0x100 && i - start < 2)) {
      dst[w++] = ' ';
    } else if (code < 0x100) {
      dst[w++] = (unsigned char)code;
    } else {
      dst[w++] = (unsigned char)(code >> 8);
      dst[w++] = (unsigned char)(code & 0xFF);
    }
  }
  return w;
}

std::string Utf8ToShiftJis(std::string_view utf8) {
  std::string out(utf8.size(), '\0');
  const size_t n = Utf8ToShiftJis(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(),
                                  reinterpret_cast<unsigned char*>(out.data()));
  out.resize(n);
  return out;
}

int ExtractOpenXmlFile(const std::string& path, int32_t, ExtractionContext& ctx) {
  if (!ctx.Ready()) return 0;
  const int64_t read = ReadHead(path, ctx.file.get(), kOpenXmlReadLimit);
  if (read < 0) return 0;
  return ExtractOpenXmlPackage((int32_t)read, ctx);
}

int32_t ExtractOpenXmlPackage(int32_t length, ExtractionContext& ctx) {
  if (!ctx.Ready()) return 0;
  unsigned char* const file = ctx.file.get();
  unsigned char* const area = file + kOpenXmlInflateOffset;
  unsigned char* const text = reinterpret_cast<unsigned char*>(ctx.text.get());
  const size_t n = (size_t)std::clamp<int32_t>(length, 0, kOpenXmlReadLimit);

  CentralDirectory directory(file, n);
  Inflater inflater;
  // Cleared once a stream failed to end: each later attempt could run over the
  // rest of the package again.
  bool trustStreamEnd = true;
  int32_t t = 0;
  size_t p = 0;
  while (p + 4 <= n) {
    if (IsSignature(file + p, 1, 2)) break;
    if (!IsSignature(file + p, 3, 4)) {
      ++p;
      continue;
    }
    if (p + 30 > n) break;
    const uint16_t flags = Le16(file + p + 6);
    const uint16_t method = Le16(file + p + 8);
    size_t csize = Le32(file + p + 18);
    const size_t nameLength = Le16(file + p + 26);
    const size_t dataStart = p + 30 + nameLength + Le16(file + p + 28);
    if (dataStart > n) break;

    // Sizes written after the data (a data descriptor) come from the central
    // directory; failing that, a deflated member ends where its stream ends.
    bool sizeFromStream = false;
    if (csize == 0) {
      const std::string_view name(reinterpret_cast<const char*>(file + p + 30), nameLength);
      if (const auto* entry = directory.Find(name, (uint32_t)p)) {
        csize = entry->compressedSize;
      } else if ((flags & 0x08) && method == 8 && trustStreamEnd) {
        sizeFromStream = true;
      }
    }
    if (!sizeFromStream && csize > n - dataStart) break;

    size_t m;
    if (sizeFromStream) {
      bool ended = false;
      size_t consumed = 0;
      m = inflater.Run(file + dataStart, n - dataStart, area, kOpenXmlInflateRoom, &ended,
                       &consumed);
      csize = ended ? consumed : 0;
      trustStreamEnd = ended;
    } else if (method == 0) {
      // Stored: the data are the member's bytes.
      m = std::min<size_t>(csize, kOpenXmlTextLimit);
      std::memcpy(area, file + dataStart, m);
    } else {
      m = inflater.Run(file + dataStart, csize, area, kOpenXmlInflateRoom);
    }
    m = std::min<size_t>(m, kOpenXmlTextLimit);
    area[m] = 0;
    if ((size_t)t + m > (size_t)kOpenXmlTextLimit) break;

    const size_t utf8Length = strlen(reinterpret_cast<const char*>(area));
    const size_t sjisLength = Utf8ToShiftJis(area, utf8Length, area);
    t = AppendStripped(area, sjisLength, text, t);
    p = dataStart + csize;
  }
  text[t] = 0;
  return t;
}

}  // namespace kuribo
