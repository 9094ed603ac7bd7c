#include "extract/cad/dwg2007.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "extract/cad/dwg2004.h"

namespace kuribo {
namespace {

// A section or system page is decompressed up to this many bytes.
constexpr int64_t kMaxSection = 64 << 20;

uint64_t Le64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// A stored 64-bit count or size; a negative or absurd one reads as -1.
int64_t Size64(const unsigned char* p) {
  const uint64_t v = Le64(p);
  return v <= (uint64_t{1} << 40) ? static_cast<int64_t>(v) : -1;
}

// A literal run of fewer than 32 bytes is stored in pieces, listed here in
// output order as (source offset, width): widths 2 and 3 reversed, 16 as its
// two halves of 8 swapped, 1, 4 and 8 as they are.
struct Piece {
  uint8_t from, width;
};
constexpr Piece kRuns[32][5] = {
    {},
    {{0, 1}},
    {{0, 2}},
    {{0, 3}},
    {{0, 4}},
    {{4, 1}, {0, 4}},
    {{5, 1}, {1, 4}, {0, 1}},
    {{5, 2}, {1, 4}, {0, 1}},
    {{0, 8}},
    {{8, 1}, {0, 8}},
    {{9, 1}, {1, 8}, {0, 1}},
    {{9, 2}, {1, 8}, {0, 1}},
    {{8, 4}, {0, 8}},
    {{12, 1}, {8, 4}, {0, 8}},
    {{13, 1}, {9, 4}, {1, 8}, {0, 1}},
    {{13, 2}, {9, 4}, {1, 8}, {0, 1}},
    {{0, 16}},
    {{9, 8}, {8, 1}, {0, 8}},
    {{17, 1}, {1, 16}, {0, 1}},
    {{16, 3}, {0, 16}},
    {{16, 4}, {0, 16}},
    {{20, 1}, {16, 4}, {0, 16}},
    {{20, 2}, {16, 4}, {0, 16}},
    {{20, 3}, {16, 4}, {0, 16}},
    {{16, 8}, {0, 16}},
    {{17, 8}, {16, 1}, {0, 16}},
    {{25, 1}, {17, 8}, {16, 1}, {0, 16}},
    {{25, 2}, {17, 8}, {16, 1}, {0, 16}},
    {{24, 4}, {16, 8}, {0, 16}},
    {{28, 1}, {24, 4}, {16, 8}, {0, 16}},
    {{28, 2}, {24, 4}, {16, 8}, {0, 16}},
    {{30, 1}, {26, 4}, {18, 8}, {2, 16}, {0, 2}},
};

unsigned char* PutPiece(unsigned char* d, const unsigned char* s, int width) {
  switch (width) {
    case 2:
    case 3:
      for (int i = width - 1; i >= 0; --i) *d++ = s[i];
      return d;
    case 16:
      std::memcpy(d, s + 8, 8);
      std::memcpy(d + 8, s, 8);
      return d + 16;
    default:
      std::memcpy(d, s, static_cast<size_t>(width));
      return d + width;
  }
}

// `count` literal bytes; the caller has checked both ends.
void CopyLiteral(unsigned char* d, const unsigned char* s, int64_t count) {
  // Whole runs of 32 keep their four groups of 8 in reverse order.
  for (; count >= 32; count -= 32, s += 32) {
    for (int g = 3; g >= 0; --g, d += 8) std::memcpy(d, s + 8 * g, 8);
  }
  for (const Piece& p : kRuns[count]) {
    if (p.width == 0) break;
    d = PutPiece(d, s + p.from, p.width);
  }
}

struct In {
  const unsigned char* p;
  int64_t len;
  int64_t pos = 0;
  bool bad = false;
  unsigned Byte() {
    if (pos >= len) {
      bad = true;
      return 0;
    }
    return p[pos++];
  }
};

int64_t LiteralLength(In& in, unsigned opcode) {
  int64_t length = opcode + 8;
  if (length != 0x17) return length;
  unsigned n = in.Byte();
  length += n;
  if (n != 0xFF) return length;
  do {
    n = in.Byte();
    n |= in.Byte() << 8;
    length += n;
  } while (n == 0xFFFF && !in.bad);
  return length;
}

// A copy from earlier output: its offset and length; `opcode` becomes the
// byte whose low three bits count the literals that follow.
void Instruction(In& in, unsigned& opcode, int64_t& offset, int64_t& length) {
  switch (opcode >> 4) {
    case 0:
      length = (opcode & 0x0F) + 0x13;
      offset = in.Byte();
      opcode = in.Byte();
      length += (opcode >> 3) & 0x10;
      offset += ((opcode & 0x78) << 5) + 1;
      break;
    case 1:
      length = (opcode & 0x0F) + 3;
      offset = in.Byte();
      opcode = in.Byte();
      offset += ((opcode & 0xF8) << 5) + 1;
      break;
    case 2:
      offset = in.Byte();
      offset |= in.Byte() << 8;
      length = opcode & 7;
      if (!(opcode & 8)) {
        opcode = in.Byte();
        length += opcode & 0xF8;
      } else {
        ++offset;
        length += int64_t{in.Byte()} << 3;
        opcode = in.Byte();
        length += (int64_t{opcode & 0xF8} << 8) + 0x100;
      }
      break;
    default:
      length = opcode >> 4;
      offset = opcode & 0x0F;
      opcode = in.Byte();
      offset += ((opcode & 0xF8) << 1) + 1;
      break;
  }
}

}  // namespace

int64_t Decompress2007(const unsigned char* src, int64_t srcLen, unsigned char* dst, int64_t cap) {
  In in{src, srcLen};
  int64_t out = 0;
  unsigned opcode = in.Byte();
  int64_t length = 0;
  if ((opcode & 0xF0) == 0x20) {
    in.Byte();
    in.Byte();
    length = in.Byte() & 7;
    if (length == 0) return -1;
  }
  if (in.bad) return -1;
  while (in.pos < in.len) {
    if (length == 0) length = LiteralLength(in, opcode);
    if (in.bad || length > in.len - in.pos || length > cap - out) return -1;
    CopyLiteral(dst + out, in.p + in.pos, length);
    out += length;
    in.pos += length;
    if (in.pos >= in.len) break;
    opcode = in.Byte();
    int64_t offset = 0;
    Instruction(in, opcode, offset, length);
    for (;;) {
      if (in.bad || offset > out || length > cap - out) return -1;
      // It may overlap what it writes.
      const int64_t from = out - offset;
      for (int64_t i = 0; i < length; ++i) dst[out + i] = dst[from + i];
      out += length;
      length = opcode & 7;
      if (length != 0 || in.pos >= in.len) break;
      opcode = in.Byte();
      if ((opcode >> 4) == 0) break;
      if ((opcode >> 4) == 0x0F) opcode &= 0x0F;
      Instruction(in, opcode, offset, length);
    }
  }
  return out;
}

bool Deinterleave(const unsigned char* src, int64_t srcLen, int64_t blocks, int k, unsigned char* dst) {
  if (blocks <= 0 || k <= 0 || k > 255 || blocks > srcLen / k) return false;
  for (int64_t i = 0; i < blocks; ++i) {
    for (int j = 0; j < k; ++j) *dst++ = src[i + int64_t{j} * blocks];
  }
  return true;
}

namespace {

// The file header's fields, 64 bits each, by their position.
enum Field {
  kPagesMapCorrection = 3,
  kPagesMapOffset = 7,
  kPagesMapCompressed = 10,
  kPagesMapSize = 11,
  kSectionsMapCompressed = 22,
  kSectionsMapId = 24,
  kSectionsMapSize = 25,
  kSectionsMapCorrection = 27,
  kFieldCount = 34,
};

struct Page {
  int64_t id;
  int64_t address;
  int64_t size;
};

struct Reader {
  const unsigned char* data;
  int64_t n;
  std::vector<Page> pages;  // sorted by id
  std::vector<unsigned char> work;

  const Page* FindPage(int64_t id) const {
    const auto it = std::lower_bound(pages.begin(), pages.end(), id,
                                     [](const Page& p, int64_t k) { return p.id < k; });
    return it != pages.end() && it->id == id ? &*it : nullptr;
  }

  // `blocks` code words at `address`, their `k` data bytes each into `work`.
  bool Words(int64_t address, int64_t blocks, int k) {
    if (address < 0 || address >= n || blocks <= 0 || blocks > (n - address) / k) return false;
    work.resize(static_cast<size_t>(blocks * k));
    return Deinterleave(data + address, n - address, blocks, k, work.data());
  }

  // The data of `work` (`compressed` bytes of it) into `out`, `size` bytes.
  bool Unpack(int64_t compressed, int64_t size, unsigned char* out) const {
    const int64_t have = static_cast<int64_t>(work.size());
    if (compressed < 0 || size < 0) return false;
    if (compressed < size) {
      return Decompress2007(work.data(), std::min(compressed, have), out, size) >= 0;
    }
    if (size > have) return false;
    if (size > 0) std::memcpy(out, work.data(), static_cast<size_t>(size));
    return true;
  }

  // A system page: its words hold the data `repeat` times over, 239 bytes a word.
  bool SystemPage(int64_t address, int64_t compressed, int64_t size, int64_t repeat,
                  std::vector<unsigned char>& out) {
    if (compressed < 0 || size < 0 || size > kMaxSection || repeat <= 0 || repeat > 64) return false;
    const int64_t blocks = (((compressed + 7) & ~int64_t{7}) * repeat + 238) / 239;
    if (!Words(address, blocks, 239)) return false;
    out.assign(static_cast<size_t>(size), 0);
    return Unpack(compressed, size, out.data());
  }

  // A data section by name, gathered from its pages; false when it is missing.
  bool Section(const std::vector<unsigned char>& map, const char* name,
               std::vector<unsigned char>& out) {
    const int64_t len = static_cast<int64_t>(map.size());
    const size_t nameLen = std::strlen(name);
    for (int64_t pos = 0; pos + 64 <= len;) {
      const unsigned char* d = map.data() + pos;
      const int64_t dataSize = Size64(d);
      const int64_t encrypted = Size64(d + 16);
      const int64_t titleBytes = Size64(d + 32);
      const int64_t pageCount = Size64(d + 56);
      pos += 64;
      if (titleBytes < 0 || titleBytes > len - pos || pageCount < 0) return false;
      const unsigned char* title = map.data() + pos;
      pos += titleBytes;
      if (pageCount > (len - pos) / 56) return false;
      // The title in UTF-16 with its closing zero.
      bool match = titleBytes >= static_cast<int64_t>(2 * nameLen);
      for (size_t i = 0; match && i < nameLen; ++i) {
        match = title[2 * i] == static_cast<unsigned char>(name[i]) && title[2 * i + 1] == 0;
      }
      if (match && titleBytes >= static_cast<int64_t>(2 * nameLen + 2)) {
        match = title[2 * nameLen] == 0 && title[2 * nameLen + 1] == 0;
      }
      if (!match) {
        pos += pageCount * 56;
        continue;
      }
      if (encrypted == 1 || dataSize < 0 || dataSize > kMaxSection) return false;
      out.assign(static_cast<size_t>(dataSize), 0);
      int64_t end = 0;
      // A map listing one page again and again is not followed past the
      // bytes that the file and the section could hold.
      int64_t wordBudget = 2 * n + (1 << 20);
      int64_t outBudget = 2 * dataSize + (1 << 20);
      for (int64_t i = 0; i < pageCount; ++i, pos += 56) {
        const unsigned char* e = map.data() + pos;
        const int64_t start = Size64(e);
        const Page* page = FindPage(static_cast<int64_t>(Le64(e + 16)));
        const int64_t size = Size64(e + 24);
        const int64_t compressed = Size64(e + 32);
        if (page == nullptr || start < 0 || size < 0 || compressed < 0 || size > dataSize - start) {
          continue;
        }
        // Data pages: 251 bytes a word, as many words as the data needs.
        const int64_t blocks = (((compressed + 7) & ~int64_t{7}) + 250) / 251;
        wordBudget -= blocks * 251;
        outBudget -= size;
        if (wordBudget < 0 || outBudget < 0) break;
        if (blocks * 255 > page->size + 7 || !Words(page->address, blocks, 251)) continue;
        if (!Unpack(compressed, size, out.data() + start)) continue;
        end = std::max(end, start + size);
      }
      out.resize(static_cast<size_t>(end));
      work.clear();
      work.shrink_to_fit();
      return end > 0;
    }
    return false;
  }
};

}  // namespace

void ReadDwg2007(const unsigned char* data, int32_t n, TextSink& sink) {
  if (data == nullptr || n < 0x480 || std::memcmp(data, "AC1021", 6) != 0) return;
  Reader rd{data, n, {}, {}};
  // The file header: three words at 0x80, then a size and the (compressed) fields.
  if (!rd.Words(0x80, 3, 239)) return;
  unsigned char fields[kFieldCount * 8] = {};
  const int32_t stored = static_cast<int32_t>(rd.work[24] | (rd.work[25] << 8) | (rd.work[26] << 16) |
                                              (static_cast<uint32_t>(rd.work[27]) << 24));
  const int64_t room = static_cast<int64_t>(rd.work.size()) - 32;
  if (stored > 0) {
    if (Decompress2007(rd.work.data() + 32, std::min<int64_t>(stored, room), fields, sizeof fields) < 0) return;
  } else {
    std::memcpy(fields, rd.work.data() + 32, sizeof fields);
  }
  auto field = [&fields](int f) { return Size64(fields + 8 * f); };

  // The page map: (size, id) pairs, the pages one after the other from 0x480.
  std::vector<unsigned char> map;
  const int64_t mapAt = field(kPagesMapOffset);
  if (mapAt < 0 || !rd.SystemPage(0x480 + mapAt, field(kPagesMapCompressed), field(kPagesMapSize),
                                  field(kPagesMapCorrection), map)) {
    return;
  }
  int64_t address = 0x480;
  for (size_t pos = 0; pos + 16 <= map.size() && address < n; pos += 16) {
    const int64_t size = Size64(map.data() + pos);
    const int64_t id = static_cast<int64_t>(Le64(map.data() + pos + 8));
    if (size < 0) break;
    if (id > 0 && size > 0) rd.pages.push_back({id, address, size});
    address += size;
  }
  std::stable_sort(rd.pages.begin(), rd.pages.end(), [](const Page& a, const Page& b) { return a.id < b.id; });
  map.clear();

  const Page* sections = rd.FindPage(field(kSectionsMapId));
  std::vector<unsigned char> info, handles, objects;
  if (sections == nullptr ||
      !rd.SystemPage(sections->address, field(kSectionsMapCompressed), field(kSectionsMapSize),
                     field(kSectionsMapCorrection), info)) {
    return;
  }
  if (!rd.Section(info, "AcDb:Handles", handles) || !rd.Section(info, "AcDb:AcDbObjects", objects)) return;
  std::vector<unsigned char> classes;
  if (!rd.Section(info, "AcDb:Classes", classes)) classes.clear();
  info.clear();
  info.shrink_to_fit();
  ReadDrawingObjects(handles, objects, classes, data, sink);
}

}  // namespace kuribo
