#include "extract/cad/dwg2004.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "extract/cad/bit_reader.h"
#include "extract/cad/dwg2007.h"
#include "extract/cad/dwg_object.h"

namespace kuribo {
namespace {

// A section is decompressed up to this many bytes.
constexpr int64_t kMaxSection = 64 << 20;

uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Le64(const unsigned char* p) { return Le32(p) | (uint64_t{Le32(p + 4)} << 32); }

// Bytes of a compressed stream with bounds checks; a read past the end sets `bad`.
struct In {
  const unsigned char* p;
  int64_t len;
  int64_t pos = 0;
  bool bad = false;
  unsigned char Byte() {
    if (pos >= len) {
      bad = true;
      return 0;
    }
    return p[pos++];
  }
};

// A literal run length. A byte of 0x10 or more is an opcode instead: it is
// handed back through `opcode` and the run is empty.
int64_t LiteralLength(In& in, int* opcode) {
  const unsigned char b = in.Byte();
  if (b >= 0x10) {
    *opcode = b;
    return 0;
  }
  *opcode = -1;
  if (b != 0) return b + 3;
  int64_t total = 0x0F;
  unsigned char c;
  while ((c = in.Byte()) == 0 && !in.bad) total += 0xFF;
  return total + c + 3;
}

int64_t LongLength(In& in) {
  int64_t total = 0;
  unsigned char c;
  while ((c = in.Byte()) == 0 && !in.bad) total += 0xFF;
  return total + c;
}

}  // namespace

int64_t Decompress2004(const unsigned char* src, int64_t srcLen, unsigned char* dst, int64_t cap) {
  In in{src, srcLen};
  int64_t out = 0;
  auto literal = [&](int64_t count) {
    if (count > in.len - in.pos || count > cap - out) return false;
    if (count == 0) return true;
    std::memcpy(dst + out, in.p + in.pos, static_cast<size_t>(count));
    in.pos += count;
    out += count;
    return true;
  };
  int opcode = -1;
  if (!literal(LiteralLength(in, &opcode)) || in.bad) return -1;
  for (;;) {
    if (opcode < 0) opcode = in.Byte();
    if (in.bad) return -1;
    int64_t count = 0;
    int64_t offset = 0;
    int64_t lits = 0;
    if (opcode == 0x11) return out;  // end of stream
    if (opcode >= 0x40) {
      count = ((opcode & 0xF0) >> 4) - 1;
      const unsigned char b = in.Byte();
      offset = (b << 2) | ((opcode & 0x0C) >> 2);
      lits = opcode & 0x03;
      opcode = -1;
      if (lits == 0) lits = LiteralLength(in, &opcode);
    } else if (opcode >= 0x10 && opcode <= 0x3F) {
      if (opcode == 0x10) count = LongLength(in) + 9;
      else if (opcode < 0x20) count = (opcode & 0x0F) + 2;
      else if (opcode == 0x20) count = LongLength(in) + 0x21;
      else count = opcode - 0x1E;
      const bool far = opcode < 0x20;
      const unsigned char b1 = in.Byte();
      const unsigned char b2 = in.Byte();
      offset = ((b1 >> 2) | (b2 << 6)) + (far ? 0x3FFF : 0);
      lits = b1 & 0x03;
      opcode = -1;
      if (lits == 0) lits = LiteralLength(in, &opcode);
    } else {
      return -1;
    }
    if (in.bad) return -1;
    // A copy from earlier output; it may overlap what it writes.
    const int64_t from = out - offset - 1;
    if (from < 0 || count > cap - out) return -1;
    for (int64_t i = 0; i < count; ++i) dst[out + i] = dst[from + i];
    out += count;
    if (!literal(lits) || in.bad) return -1;
  }
}

namespace {

struct Page {
  int32_t number;
  int64_t address;
  int64_t size;
};

struct Reader {
  const unsigned char* data;
  int64_t n;
  std::vector<Page> pages;

  // `pages` sorted by number: a hostile map may list millions.
  const Page* FindPage(int64_t number) const {
    const auto it = std::lower_bound(pages.begin(), pages.end(), number,
                                     [](const Page& p, int64_t k) { return p.number < k; });
    return it != pages.end() && it->number == number ? &*it : nullptr;
  }

  // A system page (page map, section map): a 20-byte header, then compressed data.
  bool SystemPage(int64_t address, std::vector<unsigned char>& out) const {
    if (address < 0 || address + 20 > n) return false;
    const unsigned char* h = data + address;
    const int64_t size = Le32(h + 4);
    const int64_t compressed = Le32(h + 8);
    if (size > kMaxSection || compressed > n - address - 20) return false;
    out.assign(static_cast<size_t>(size), 0);
    if (Le32(h + 12) != 2) {  // stored as it is
      if (compressed < size) return false;
      if (size > 0) std::memcpy(out.data(), h + 20, static_cast<size_t>(size));
      return true;
    }
    return Decompress2004(h + 20, compressed, out.data(), size) >= 0;
  }

  // A data section gathered from its pages; false when it is missing or cannot be read.
  bool Section(const std::vector<unsigned char>& map, const char* name,
               std::vector<unsigned char>& out) const {
    if (map.size() < 20) return false;
    const int64_t count = Le32(map.data());
    int64_t pos = 20;
    for (int64_t d = 0; d < count; ++d) {
      if (pos + 96 > static_cast<int64_t>(map.size())) return false;
      const unsigned char* desc = map.data() + pos;
      const int64_t pageCount = Le32(desc + 8);
      const int64_t maxSize = Le32(desc + 12);
      const uint32_t compressed = Le32(desc + 20);
      const uint32_t encrypted = Le32(desc + 28);
      char title[65];
      std::memcpy(title, desc + 32, 64);
      title[64] = 0;
      pos += 96;
      if (pageCount < 0 || pageCount > (static_cast<int64_t>(map.size()) - pos) / 16) return false;
      if (std::strcmp(title, name) != 0) {
        pos += pageCount * 16;
        continue;
      }
      if (encrypted == 1 || maxSize <= 0 || maxSize * pageCount > kMaxSection) return false;
      out.assign(static_cast<size_t>(maxSize * pageCount), 0);
      int64_t end = 0;
      for (int64_t i = 0; i < pageCount; ++i, pos += 16) {
        const unsigned char* e = map.data() + pos;
        const Page* page = FindPage(static_cast<int32_t>(Le32(e)));
        const int64_t start = static_cast<int64_t>(Le64(e + 8));
        if (page == nullptr || start < 0 || start > static_cast<int64_t>(out.size()) - maxSize) continue;
        const int64_t at = page->address;
        if (at < 0 || at + 32 > n) continue;
        // The page header is masked with its own address.
        unsigned char head[32];
        const uint32_t mask = 0x4164536B ^ static_cast<uint32_t>(at);
        for (int k = 0; k < 32; k += 4) {
          const uint32_t v = Le32(data + at + k) ^ mask;
          for (int b = 0; b < 4; ++b) head[k + b] = static_cast<unsigned char>(v >> (8 * b));
        }
        const int64_t stored = Le32(head + 8);
        if (stored > n - at - 32) continue;
        int64_t got = 0;
        if (compressed == 2) {
          got = Decompress2004(data + at + 32, stored, out.data() + start, maxSize);
        } else {
          got = stored < maxSize ? stored : maxSize;
          if (got > 0) std::memcpy(out.data() + start, data + at + 32, static_cast<size_t>(got));
        }
        if (got > 0 && start + got > end) end = start + got;
      }
      out.resize(static_cast<size_t>(end));
      return true;
    }
    return false;
  }
};

enum class Gen { k2004, k2007, k2010, k2013, k2018 };

constexpr uint32_t kText = 1, kAttrib = 2, kAttdef = 3, kMtext = 44, kBlockHeader = 49,
                   kLayer = 51;

void SkipExtendedData(BitReader& r) {
  for (uint32_t size = r.BS(); size != 0 && !r.Failed(); size = r.BS()) {
    r.H();
    r.Skip(int64_t{size} * 8);
  }
}

void SkipCommonEntity(BitReader& r, Gen g) {
  if (r.B()) {  // preview image
    if (g <= Gen::k2007) r.Skip(int64_t{r.RL()} * 8);
    else {  // a 64-bit size: BLL, a 3-bit byte count and that many bytes
      const uint32_t bytes = r.Bits(3);
      uint64_t size = 0;
      for (uint32_t i = 0; i < bytes; ++i) size |= uint64_t{r.RC()} << (8 * i);
      if (size > static_cast<uint64_t>(r.End())) r.Skip(r.End() + 1);
      else r.Skip(static_cast<int64_t>(size) * 8);
    }
  }
  r.BB();  // entity mode
  r.BL();  // reactors
  r.B();   // no extension dictionary
  if (g >= Gen::k2013) r.B();  // has binary data
  // Entities of 2004 and later keep no links to their neighbours.
  const uint32_t colour = r.BS();
  if (colour & 0x8000) r.BL();  // true colour
  if (colour & 0x2000) r.BL();  // transparency
  r.BD();  // linetype scale
  r.BB();  // linetype flags
  r.BB();  // plot style flags
  if (g >= Gen::k2007) {
    r.BB();  // material flags
    r.RC();  // shadow flags
  }
  if (g >= Gen::k2010) {
    r.B();  // visual styles
    r.B();
    r.B();
  }
  r.BS();  // invisibility
  r.RC();  // line weight
}

void SkipTextFields(BitReader& r) {
  const uint32_t flags = r.RC();
  if (!(flags & 0x01)) r.RD();
  r.RD();
  r.RD();
  if (!(flags & 0x02)) {
    r.DD();
    r.DD();
  }
  r.BE();
  r.BT();
  if (!(flags & 0x04)) r.RD();
  if (!(flags & 0x08)) r.RD();
  r.RD();
  if (!(flags & 0x10)) r.RD();
}

void SkipMtextFields(BitReader& r, Gen g) {
  for (int i = 0; i < 9; ++i) r.BD();
  r.BD();                      // rectangle width
  if (g >= Gen::k2007) r.BD();  // rectangle height
  r.BD();                      // text height
  r.BS();
  r.BS();
  r.BD();
  r.BD();
}

DwgEncoding EncodingOf(Gen g) {
  switch (g) {
    case Gen::k2004: return DwgEncoding::kR2004;
    case Gen::k2007: return DwgEncoding::kR2007;
    case Gen::k2010: return DwgEncoding::kR2010;
    case Gen::k2013: return DwgEncoding::kR2013;
    case Gen::k2018: return DwgEncoding::kR2018;
  }
  return DwgEncoding::kR2004;
}

void TakeObject(const unsigned char* obj, int32_t bytes, int64_t handleBits, Gen g, const DwgClasses& classes,
                TextSink& sink) {
  BitReader r(obj, bytes);
  uint32_t type;
  if (g <= Gen::k2007) {
    type = r.BS();
  } else {  // object type: a 2-bit code, then one or two bytes
    const uint32_t code = r.BB();
    type = code == 0 ? r.RC() : code == 1 ? r.RC() + 0x1F0 : r.RS();
  }
  const bool dimension = IsDimension(type, classes);
  const DwgClass cls = classes.Of(type);
  const bool layout = IsLayout(type, classes);
  const bool named = type == kBlockHeader || type == kLayer || layout;
  if (type != kText && type != kAttrib && type != kAttdef && type != kMtext && !named && !dimension &&
      cls != DwgClass::kMultileader) {
    return;
  }
  const DwgEncoding e = EncodingOf(g);
  DwgStrings strings;
  BitReader stream(obj, 0);
  if (g == Gen::k2004) {
    r.RL();  // object size in bits
  } else {
    // 2007 states where the data ends; later versions the handle stream's size.
    const int64_t dataBits = g == Gen::k2007 ? r.RL() : int64_t{bytes} * 8 - handleBits;
    if (!LocateDwgStrings(obj, bytes, dataBits, stream)) return;
    strings.stream = &stream;
    r.Limit(dataBits);
  }
  r.H();
  SkipExtendedData(r);
  bool ok;
  if (named) {
    r.BL();  // reactors
    r.B();   // no extension dictionary
    if (g >= Gen::k2013) r.B();
    ok = layout ? ReadLayoutName(r, e, strings) : strings.Read(r);
  } else {
    SkipCommonEntity(r, g);
    if (dimension) {
      ok = ReadDimensionText(r, e, strings);
    } else if (cls == DwgClass::kMultileader) {
      ok = ReadMultileaderText(r, e, strings);
    } else {
      if (type == kMtext) SkipMtextFields(r, g);
      else SkipTextFields(r);
      ok = !r.Failed() && strings.Read(r);
    }
  }
  if (!ok) return;
  const std::string& v = strings.value;
  if (v.empty()) return;
  if (named && v[0] == '*') return;
  sink.Add(v, type == kMtext || dimension || cls == DwgClass::kMultileader, strings.stream != nullptr);
}

}  // namespace

void ReadDwg2004(const unsigned char* data, int32_t n, TextSink& sink) {
  if (n < 0x100) return;
  if (std::memcmp(data, "AC1021", 6) == 0) return ReadDwg2007(data, n, sink);
  if (std::memcmp(data, "AC1018", 6) != 0 && std::memcmp(data, "AC1024", 6) != 0 &&
      std::memcmp(data, "AC1027", 6) != 0 && std::memcmp(data, "AC1032", 6) != 0) {
    return;
  }
  // The file header at 0x80 is masked by a generator seeded with 1.
  unsigned char head[0x6C];
  uint32_t seed = 1;
  for (int i = 0; i < 0x6C; ++i) {
    seed = seed * 0x343FD + 0x269EC3;
    head[i] = data[0x80 + i] ^ static_cast<unsigned char>(seed >> 16);
  }
  if (std::memcmp(head, "AcFssFcAJMB", 11) != 0) return;
  Reader rd{data, n, {}};
  std::vector<unsigned char> map;
  if (!rd.SystemPage(static_cast<int64_t>(Le64(head + 0x54) & 0xFFFFFFFF) + 0x100, map)) return;
  int64_t address = 0x100;
  for (size_t pos = 0; pos + 8 <= map.size();) {
    const int32_t number = static_cast<int32_t>(Le32(map.data() + pos));
    const int64_t size = Le32(map.data() + pos + 4);
    pos += 8;
    if (number >= 0) rd.pages.push_back({number, address, size});
    else pos += 16;  // a gap: parent, left, right and a zero
    address += size;
  }
  std::stable_sort(rd.pages.begin(), rd.pages.end(),
                   [](const Page& a, const Page& b) { return a.number < b.number; });
  const Page* infoPage = rd.FindPage(static_cast<int32_t>(Le32(head + 0x5C)));
  std::vector<unsigned char> info, handles, objects;
  if (infoPage == nullptr || !rd.SystemPage(infoPage->address, info)) return;
  if (!rd.Section(info, "AcDb:Handles", handles) || !rd.Section(info, "AcDb:AcDbObjects", objects)) return;
  map.clear();
  map.shrink_to_fit();
  std::vector<unsigned char> classes;
  if (!rd.Section(info, "AcDb:Classes", classes)) classes.clear();
  ReadDrawingObjects(handles, objects, classes, data, sink);
}

void ReadDrawingObjects(const std::vector<unsigned char>& handles,
                        const std::vector<unsigned char>& objects,
                        const std::vector<unsigned char>& classSection, const unsigned char* file,
                        TextSink& sink) {
  Gen g;
  if (std::memcmp(file, "AC1018", 6) == 0) g = Gen::k2004;
  else if (std::memcmp(file, "AC1021", 6) == 0) g = Gen::k2007;
  else if (std::memcmp(file, "AC1024", 6) == 0) g = Gen::k2010;
  else if (std::memcmp(file, "AC1027", 6) == 0) g = Gen::k2013;
  else if (std::memcmp(file, "AC1032", 6) == 0) g = Gen::k2018;
  else return;
  DwgClasses classes;
  // A second size word from the fourth maintenance release of 2010 on.
  const bool sizeHigh = g >= Gen::k2010 && file[0x0B] > 3;
  classes.Read(classSection.data(), static_cast<int64_t>(classSection.size()), EncodingOf(g), sizeHigh);
  // The object map: sections of (handle offset, location offset) pairs as in 2000.
  const int64_t mapLen = static_cast<int64_t>(handles.size());
  const int64_t objLen = static_cast<int64_t>(objects.size());
  for (int64_t section = 0; section + 2 <= mapLen && !sink.Full();) {
    const int32_t sectionSize = (handles[section] << 8) | handles[section + 1];
    if (sectionSize <= 2) break;
    const unsigned char* entries = handles.data() + section + 2;
    int64_t len = sectionSize - 2;
    if (len > mapLen - section - 2) len = mapLen - section - 2;
    int64_t location = 0;
    int64_t q = 0;
    while (q < len && !sink.Full()) {
      while (q < len && (entries[q] & 0x80)) ++q;  // the handle offset
      if (++q >= len) break;
      int64_t delta = 0;
      bool negative = false;
      bool complete = false;
      for (int k = 0; k < 5 && q < len; ++k) {
        const unsigned char c = entries[q++];
        if (c & 0x80) {
          delta |= int64_t{c & 0x7F} << (7 * k);
          continue;
        }
        delta |= int64_t{c & 0x3F} << (7 * k);
        negative = (c & 0x40) != 0;
        complete = true;
        break;
      }
      if (!complete) break;
      location += negative ? -delta : delta;
      if (location < 0 || location + 2 > objLen) continue;
      // Object size (modular short), then from 2010 on the handle stream's
      // size in bits (modular character).
      const unsigned char* o = objects.data() + location;
      int64_t at = 2;
      int64_t size = (o[0] | (o[1] << 8)) & 0x7FFF;
      if ((o[1] & 0x80) && location + 4 <= objLen) {
        size |= int64_t{(o[2] | (o[3] << 8)) & 0x7FFF} << 15;
        at = 4;
      }
      int64_t handleBits = 0;
      if (g >= Gen::k2010) {
        for (int k = 0; k < 5 && location + at < objLen; ++k) {
          const unsigned char c = o[at++];
          handleBits |= int64_t{c & 0x7F} << (7 * k);
          if (!(c & 0x80)) break;
        }
      }
      if (size > objLen - location - at) size = objLen - location - at;
      if (size <= 0 || size > INT32_MAX / 8) continue;
      TakeObject(o + at, static_cast<int32_t>(size), handleBits, g, classes, sink);
    }
    section += sectionSize + 2;  // the check value follows each section
  }
}

}  // namespace kuribo
