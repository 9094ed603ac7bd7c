// Builders for DWG test drawings: a bit writer for object streams, text
// entities of both layouts, and a file with a header, objects and an object map.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kuribo::test {

// "01 0000 0001" -> bytes, most significant bit first, zero-padded.
inline std::vector<uint8_t> FromBits(const std::string& bits) {
  std::vector<uint8_t> out;
  int n = 0;
  for (char c : bits) {
    if (c != '0' && c != '1') continue;
    if (n % 8 == 0) out.push_back(0);
    if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
    ++n;
  }
  return out;
}

class BitWriter {
 public:
  void Put(uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      if (bits_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (bits_ % 8));
      ++bits_;
    }
  }
  void B(int b) { Put(b, 1); }
  void BB(int code) { Put(code, 2); }
  void RC(uint32_t v) { Put(v & 0xFF, 8); }
  void RS(uint32_t v) { RC(v); RC(v >> 8); }
  void RL(uint32_t v) { RS(v); RS(v >> 16); }
  void RD(uint64_t raw) { for (int i = 0; i < 8; ++i) RC(static_cast<uint32_t>(raw >> (8 * i))); }
  // The shortest code for the value.
  void BS(uint32_t v) {
    if (v == 0) BB(2);
    else if (v == 256) BB(3);
    else if (v < 256) { BB(1); RC(v); }
    else { BB(0); RS(v); }
  }
  void BL(uint32_t v) {
    if (v == 0) BB(2);
    else if (v < 256) { BB(1); RC(v); }
    else { BB(0); RL(v); }
  }
  void BdRaw(uint64_t raw = 0x3FF8000000000000) { BB(0); RD(raw); }  // 1.5
  void BdOne() { BB(1); }
  void BdZero() { BB(2); }
  void H(int count, uint8_t fill = 0x2A) {
    Put(0, 4);
    Put(count, 4);
    for (int i = 0; i < count; ++i) RC(fill + i);
  }
  void Bytes(const std::string& s) { for (unsigned char c : s) RC(c); }
  // Text with an 8-bit length (code 01) or a 16-bit one (code 00).
  void Tv8(const std::string& s) { BB(1); RC(static_cast<uint32_t>(s.size())); Bytes(s); }
  void Tv16(const std::string& s) { BB(0); RS(static_cast<uint32_t>(s.size())); Bytes(s); }

  int64_t Bits() const { return bits_; }
  const std::vector<uint8_t>& Data() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int64_t bits_ = 0;
};

enum class Tv { k8, k16, kEmpty };

struct TextOptions {
  Tv tv = Tv::k8;
  int extendedDataSize = 0;  // > 0: the entity carries extended data
  bool preview = false;
  int handleBytes = 1;
  bool wide = false;  // every variable-size field at its widest form
  uint8_t dataFlags = 0x00;  // second layout only
  int64_t* textStart = nullptr;  // gets the bit where the text bytes begin
  int type = 1;  // 2 and 3: an attribute and its definition share the layout
};

inline void WriteText(BitWriter& w, const std::string& text, const TextOptions& o) {
  switch (o.tv) {
    case Tv::k8: w.Tv8(text); break;
    case Tv::k16: w.Tv16(text); break;
    case Tv::kEmpty: w.BB(2); break;
  }
  if (o.textStart != nullptr) *o.textStart = w.Bits() - 8 * static_cast<int64_t>(text.size());
}

inline void WriteExtendedData(BitWriter& w, const TextOptions& o) {
  if (o.extendedDataSize == 0) {
    w.BS(0);
    return;
  }
  w.BS(static_cast<uint32_t>(o.extendedDataSize));
  w.H(1);
  for (int i = 0; i < o.extendedDataSize; ++i) w.RC('x');
  w.BS(0);
}

inline void WritePreview(BitWriter& w, const TextOptions& o) {
  w.B(o.preview);
  if (o.preview) {
    w.RL(5);
    w.Bytes("IMAGE");
  }
}

// The fields every entity of AC1012-AC1015 starts with, at their narrowest.
inline void EntityStart(BitWriter& w, uint32_t type, bool r2000) {
  w.BS(type);
  if (r2000) w.RL(0x0400);
  w.H(2);
  w.BS(0);  // no extended data
  w.B(0);   // no preview
  if (!r2000) w.RL(0x1234);
  w.BB(2); w.BL(0);
  if (!r2000) w.B(1);
  w.B(0); w.BS(7); w.BdOne();
  if (r2000) { w.BB(0); w.BB(0); }
  w.BS(0);
  if (r2000) w.RC(0x1D);
}

inline void Point3(BitWriter& w) { w.BdZero(); w.BdRaw(); w.BdOne(); }

// A multi-line text entity (type 44).
inline std::vector<uint8_t> MtextEntity(const std::string& text, bool r2000) {
  BitWriter w;
  EntityStart(w, 44, r2000);
  for (int i = 0; i < 9; ++i) w.BdRaw();  // insertion point, extrusion, x direction
  w.BdRaw(); w.BdRaw();                   // width, height
  w.BS(1); w.BS(5);                       // attachment, direction
  w.BdZero(); w.BdRaw();                  // extents
  w.Tv16(text);
  return w.Data();
}

// A dimension (types 20-26, or a class): its override, empty for Tv::kEmpty.
inline std::vector<uint8_t> DimensionEntity(uint32_t type, const std::string& text, bool r2000, Tv tv = Tv::k8) {
  BitWriter w;
  EntityStart(w, type, r2000);
  Point3(w);          // extrusion
  w.RD(1); w.RD(2);   // text midpoint
  w.BdZero();         // elevation
  w.RC(0x0B);         // flags
  WriteText(w, text, TextOptions{tv});
  w.BdRaw(); w.BdZero();
  for (int i = 0; i < 8; ++i) w.RC(0x66);
  return w.Data();
}

// A layout (a class before 2004): the plot settings, then its name.
inline std::vector<uint8_t> LayoutObject(uint32_t type, const std::string& name, bool r2000) {
  BitWriter w;
  w.BS(type);
  if (r2000) w.RL(0x0200);
  w.H(1);
  w.BS(0);
  if (!r2000) w.RL(0x0200);
  w.BL(0);  // reactors
  w.Tv8(""); w.Tv8("none_device"); w.BS(688);
  for (int i = 0; i < 6; ++i) w.BdRaw();
  w.Tv8("A4"); w.BdZero(); w.BdOne();
  w.BS(0); w.BS(1); w.BS(5);
  for (int i = 0; i < 4; ++i) w.BdRaw();
  w.Tv8("");  // view name
  w.BdOne(); w.BdRaw(); w.Tv8("mono.ctb"); w.BS(16); w.BdOne(); w.BdZero(); w.BdZero();
  w.Tv8(name);
  for (int i = 0; i < 8; ++i) w.RC(0x77);
  return w.Data();
}

// A multileader of AC1012-AC1015 with one root, one leader line, breaks.
inline std::vector<uint8_t> MultileaderEntity(uint32_t type, const std::string& text, bool r2000) {
  BitWriter w;
  EntityStart(w, type, r2000);
  w.BL(1);               // roots
  w.B(1); w.B(1); Point3(w); Point3(w);
  w.BL(1); Point3(w); Point3(w);  // a break
  w.BL(0); w.BdRaw();
  w.BL(1);               // lines
  w.BL(2); Point3(w); Point3(w);  // points
  w.BL(1); w.BL(0); w.BL(2); for (int i = 0; i < 4; ++i) Point3(w);  // breaks of a segment
  w.BL(0);
  w.BdOne(); Point3(w); w.BdRaw(); w.BdRaw(); w.BdRaw();
  for (int i = 0; i < 4; ++i) w.BS(i);
  w.B(1);  // text content
  w.Tv8(text);
  for (int i = 0; i < 8; ++i) w.RC(0x44);
  return w.Data();
}

// A table entry (block header 49, layer 51): its name comes first.
inline std::vector<uint8_t> NamedObject(int type, const std::string& name, bool r2000) {
  BitWriter w;
  w.BS(static_cast<uint32_t>(type));
  if (r2000) w.RL(0x0200);
  w.H(1);
  w.BS(0);
  if (!r2000) w.RL(0x0200);
  w.BL(1);  // reactors
  w.Tv8(name);
  for (int i = 0; i < 6; ++i) w.RC(0x55);
  return w.Data();
}

// A text entity as AC1012-AC1014 store it (object type 1).
inline std::vector<uint8_t> TextEntityR13(const std::string& text, const TextOptions& o = {}) {
  BitWriter w;
  w.BB(1); w.RC(o.type);
  w.H(o.handleBytes);
  WriteExtendedData(w, o);
  WritePreview(w, o);
  w.RL(0x1234);      // object size in bits
  w.BB(2);           // entity mode
  w.BL(o.wide ? 70000 : 0);
  w.B(1);            // linetype by layer
  w.B(0);            // no links
  w.BS(o.wide ? 300 : 7);
  if (o.wide) w.BdRaw(); else w.BdOne();
  w.BS(o.wide ? 513 : 0);
  if (o.wide) w.BdRaw(); else w.BdZero();
  for (int i = 0; i < 4; ++i) w.RD(0x4059000000000000ULL + i);  // points
  for (int i = 0; i < 8; ++i) {
    if (o.wide || i % 3 == 0) w.BdRaw(); else if (i % 3 == 1) w.BdOne(); else w.BdZero();
  }
  WriteText(w, text, o);
  return w.Data();
}

// A text entity as AC1015 stores it.
inline std::vector<uint8_t> TextEntityR2000(const std::string& text, const TextOptions& o = {}) {
  BitWriter w;
  w.BB(1); w.RC(o.type);
  w.RL(0x0400);      // object size in bits
  w.H(o.handleBytes);
  WriteExtendedData(w, o);
  WritePreview(w, o);
  w.BB(0);           // entity mode
  w.BL(o.wide ? 70000 : 0);
  w.B(1);            // no links
  w.BS(o.wide ? 300 : 256);
  if (o.wide) w.BdRaw(); else w.BdOne();
  w.BB(1); w.BB(3);  // linetype and plot style flags
  w.BS(o.wide ? 513 : 0);
  w.RC(0x1D);        // line weight
  const uint8_t f = o.dataFlags;
  w.RC(f);
  if (!(f & 0x01)) w.RD(0x4024000000000000ULL);  // elevation
  w.RD(1); w.RD(2);                               // insertion point
  if (!(f & 0x02)) {                              // alignment point
    if (o.wide) { w.BB(3); w.RD(3); w.BB(3); w.RD(4); }
    else { w.BB(1); w.Put(0xDEADBEEF, 32); w.BB(2); w.Put(0xABCDEF012345ULL, 48); }
  }
  if (o.wide) { w.B(0); w.BdRaw(); w.BdRaw(); w.BdRaw(); } else { w.B(1); }  // extrusion
  if (o.wide) { w.B(0); w.BdRaw(); } else { w.B(1); }                        // thickness
  if (!(f & 0x04)) w.RD(5);
  if (!(f & 0x08)) w.RD(6);
  w.RD(7);  // height
  if (!(f & 0x10)) w.RD(8);
  WriteText(w, text, o);
  return w.Data();
}

// A line entity (object type 19): never read.
inline std::vector<uint8_t> LineEntity() {
  BitWriter w;
  w.BB(1); w.RC(19);
  w.H(1);
  w.BS(0);
  w.B(0);
  for (int i = 0; i < 40; ++i) w.RC('L');
  return w.Data();
}

// Places objects after a header and writes an object map (one or more
// sections of (handle offset, location offset) pairs) after them.
class DrawingBuilder {
 public:
  explicit DrawingBuilder(std::string version) : version_(std::move(version)) {
    bytes_.assign(0x80, 0);
  }
  // Appends an object (2-byte size, then its stream); returns its location.
  int64_t AddObject(const std::vector<uint8_t>& stream) {
    const int64_t at = static_cast<int64_t>(bytes_.size());
    bytes_.push_back(static_cast<uint8_t>(stream.size()));
    bytes_.push_back(static_cast<uint8_t>(stream.size() >> 8));
    bytes_.insert(bytes_.end(), stream.begin(), stream.end());
    return at;
  }
  void Pad(size_t count, uint8_t fill = 0) { bytes_.insert(bytes_.end(), count, fill); }

  // A classes section (number, DXF name) at the current end, found through
  // the second locator record.
  void AddClasses(const std::vector<std::pair<int, std::string>>& classes) {
    BitWriter w;
    for (const auto& [number, name] : classes) {
      w.BS(static_cast<uint32_t>(number)); w.BS(0);
      w.Tv8("App"); w.Tv8("AcDbThing"); w.Tv8(name);
      w.B(0); w.BS(0x1F3);
    }
    classesAt_ = static_cast<uint32_t>(bytes_.size());
    bytes_.insert(bytes_.end(), 16, 0x8D);  // sentinel, never checked
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(w.Data().size() >> (8 * i)));
    bytes_.insert(bytes_.end(), w.Data().begin(), w.Data().end());
    bytes_.insert(bytes_.end(), {0x12, 0x34});  // check value
    classesSize_ = static_cast<uint32_t>(bytes_.size()) - classesAt_;
  }

  // A modular character; `maxBytes` lets a test spell it longer than needed.
  static std::vector<uint8_t> Modular(int64_t value, int minBytes = 1) {
    const bool negative = value < 0;
    uint64_t v = static_cast<uint64_t>(negative ? -value : value);
    std::vector<uint8_t> out;
    while (v >= 0x40 || static_cast<int>(out.size()) + 1 < minBytes) {
      out.push_back(static_cast<uint8_t>(0x80 | (v & 0x7F)));
      v >>= 7;
    }
    out.push_back(static_cast<uint8_t>(v | (negative ? 0x40 : 0)));
    return out;
  }

  // One map section from pairs of (handle delta, location delta).
  void AddSection(const std::vector<std::pair<int64_t, int64_t>>& entries) {
    std::vector<uint8_t> body;
    for (const auto& [handle, location] : entries) {
      for (uint8_t b : Modular(handle)) body.push_back(b);
      for (uint8_t b : Modular(location)) body.push_back(b);
    }
    AddRawSection(body);
  }
  // A section whose entry bytes are given as they stand.
  void AddRawSection(const std::vector<uint8_t>& body) { sections_.push_back(body); }

  // The whole file; the map is written at the current end, followed by an
  // empty closing section and `tail` bytes.
  std::vector<uint8_t> Build(size_t tail = 64) const {
    std::vector<uint8_t> out = bytes_;
    for (size_t i = 0; i < 6 && i < version_.size(); ++i) out[i] = static_cast<uint8_t>(version_[i]);
    const uint32_t mapStart = static_cast<uint32_t>(out.size());
    auto section = [&out](const std::vector<uint8_t>& body) {
      const size_t size = body.size() + 2;
      out.push_back(static_cast<uint8_t>(size >> 8));
      out.push_back(static_cast<uint8_t>(size));
      out.insert(out.end(), body.begin(), body.end());
      out.push_back(0xC3);  // check value, never read
      out.push_back(0x5A);
    };
    for (const auto& body : sections_) section(body);
    section({});
    const uint32_t mapSize = static_cast<uint32_t>(out.size()) - mapStart;
    for (int i = 0; i < 4; ++i) {
      out[44 + i] = static_cast<uint8_t>(mapStart >> (8 * i));
      out[48 + i] = static_cast<uint8_t>(mapSize >> (8 * i));
    }
    for (int i = 0; i < 4; ++i) {
      out[0x23 + i] = static_cast<uint8_t>(classesAt_ >> (8 * i));
      out[0x27 + i] = static_cast<uint8_t>(classesSize_ >> (8 * i));
    }
    out.insert(out.end(), tail, 0);
    return out;
  }

 private:
  std::string version_;
  std::vector<uint8_t> bytes_;
  std::vector<std::vector<uint8_t>> sections_;
  uint32_t classesAt_ = 0;
  uint32_t classesSize_ = 0;
};

// Entities of 2004 and later: the TEXT (or dimension) layout shared by AC1018 (`utf16`
// false: the text inline, 8-bit) and AC1024+ (the text in the string stream,
// UTF-16). The record comes whole: size, handle stream size, stream.
inline std::vector<uint8_t> Record2004(const std::string& text, int type, bool utf16, bool r2013 = false) {
  BitWriter w;
  if (utf16) { w.BB(0); w.RC(static_cast<uint32_t>(type)); } else { w.BS(static_cast<uint32_t>(type)); w.RL(0x0300); }
  w.H(1);
  w.BS(0);  // no extended data
  if (type == 51) {  // a layer: reactors, no extension dictionary
    w.BL(0);
    w.B(1);
    if (r2013) w.B(0);
  } else {
    w.B(0);  // no preview
    w.BB(2); w.BL(0); w.B(1);
    if (r2013) w.B(0);
    w.BS(256); w.BdOne(); w.BB(0); w.BB(1);
    if (utf16) { w.BB(0); w.RC(0); w.B(0); w.B(0); w.B(0); }
    w.BS(0); w.RC(0x1D);
    if (type >= 20 && type <= 26) {  // a dimension: its override where a text's value is
      if (utf16) w.RC(2);
      Point3(w); w.RD(1); w.RD(2); w.BdZero(); w.RC(0x0B);
    } else {
      w.RC(0x1F);  // data flags: only the insertion point and the height
      w.RD(1); w.RD(2); w.B(1); w.B(1); w.RD(3);
    }
  }
  if (!utf16) w.Tv8(text);
  std::vector<uint8_t> out;
  auto modularShort = [&out](size_t v) { out.push_back(static_cast<uint8_t>(v)); out.push_back(static_cast<uint8_t>(v >> 8)); };
  if (!utf16) {
    modularShort(w.Data().size());
    out.insert(out.end(), w.Data().begin(), w.Data().end());
    return out;
  }
  // The string stream, its size in bits, the flag that it is there.
  const int64_t before = w.Bits();
  w.BS(static_cast<uint32_t>(text.size()));
  for (unsigned char c : text) w.RS(c);
  const int64_t size = w.Bits() - before;
  w.RS(static_cast<uint32_t>(size));
  w.B(1);
  const int64_t dataBits = w.Bits();
  w.Put(0, 8);  // the handle stream
  const int64_t handleBits = static_cast<int64_t>(w.Data().size()) * 8 - dataBits;
  modularShort(w.Data().size());
  out.push_back(static_cast<uint8_t>(handleBits));  // a one-byte modular character
  out.insert(out.end(), w.Data().begin(), w.Data().end());
  return out;
}

// The section compression with literal runs only (the decoder's copies are
// tested by hand-made streams).
inline std::vector<uint8_t> Compress2004(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> padded = data;
  while (padded.size() < 4) padded.push_back(0);
  const size_t n = padded.size();
  if (n <= 18) {
    out.push_back(static_cast<uint8_t>(n - 3));
  } else {
    out.push_back(0);
    size_t rest = n - 3 - 0x0F;
    while (rest > 0xFF) { out.push_back(0); rest -= 0xFF; }
    if (rest == 0) { out.back() = 0; out.push_back(0xFF); }  // never ends on a zero
    else out.push_back(static_cast<uint8_t>(rest));
  }
  out.insert(out.end(), padded.begin(), padded.end());
  out.push_back(0x11);
  return out;
}

// A drawing of the 2004 file structure: a masked header, two data sections
// (the object map and the objects), a section map and a page map.
inline std::vector<uint8_t> Drawing2004(const std::string& version,
                                        const std::vector<std::vector<uint8_t>>& records,
                                        bool compressed = true) {
  auto le32 = [](std::vector<uint8_t>& v, uint32_t x) { for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i))); };
  std::vector<uint8_t> objects = {0x0D, 0xCA, 0, 0};
  std::vector<uint8_t> handles;
  {
    std::vector<uint8_t> body;
    int64_t previous = 0;
    for (const auto& r : records) {
      const int64_t at = static_cast<int64_t>(objects.size());
      objects.insert(objects.end(), r.begin(), r.end());
      for (uint8_t b : DrawingBuilder::Modular(1)) body.push_back(b);
      for (uint8_t b : DrawingBuilder::Modular(at - previous)) body.push_back(b);
      previous = at;
    }
    const size_t size = body.size() + 2;
    handles = {static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
    handles.insert(handles.end(), body.begin(), body.end());
    handles.insert(handles.end(), {0xC3, 0x5A, 0x00, 0x02, 0, 0});
  }
  std::vector<uint8_t> file(0x100, 0);
  for (int i = 0; i < 6; ++i) file[i] = static_cast<uint8_t>(version[i]);
  struct PageRecord { uint32_t number; uint32_t size; };
  std::vector<PageRecord> pages;
  auto dataPage = [&](uint32_t number, const std::vector<uint8_t>& raw) {
    const std::vector<uint8_t> stored = compressed ? Compress2004(raw) : raw;
    const uint32_t at = static_cast<uint32_t>(file.size());
    std::vector<uint8_t> head;
    for (uint32_t v : {0x4163043Bu, 1u, static_cast<uint32_t>(stored.size()), static_cast<uint32_t>(raw.size()), 0u, 0u, 0u, 0u}) le32(head, v ^ 0x4164536Bu ^ at);
    file.insert(file.end(), head.begin(), head.end());
    file.insert(file.end(), stored.begin(), stored.end());
    pages.push_back({number, static_cast<uint32_t>(file.size() - at)});
  };
  auto systemPage = [&](uint32_t number, uint32_t type, const std::vector<uint8_t>& raw) {
    const std::vector<uint8_t> stored = compressed ? Compress2004(raw) : raw;
    const uint32_t at = static_cast<uint32_t>(file.size());
    for (uint32_t v : {type, static_cast<uint32_t>(raw.size()), static_cast<uint32_t>(stored.size()), compressed ? 2u : 1u, 0u}) le32(file, v);
    file.insert(file.end(), stored.begin(), stored.end());
    pages.push_back({number, static_cast<uint32_t>(file.size() - at)});
    return at;
  };
  dataPage(1, handles);
  dataPage(2, objects);
  std::vector<uint8_t> info;
  for (uint32_t v : {2u, 2u, 0x7400u, 0u, 2u}) le32(info, v);
  auto describe = [&](const char* name, size_t size, uint32_t page) {
    le32(info, static_cast<uint32_t>(size)); le32(info, 0);
    le32(info, 1); le32(info, static_cast<uint32_t>(size + 64)); le32(info, 1);
    le32(info, compressed ? 2 : 1); le32(info, 0); le32(info, 0);
    std::string title(name);
    title.resize(64, '\0');
    info.insert(info.end(), title.begin(), title.end());
    le32(info, page); le32(info, static_cast<uint32_t>(size)); le32(info, 0); le32(info, 0);
  };
  describe("AcDb:Handles", handles.size(), 1);
  describe("AcDb:AcDbObjects", objects.size(), 2);
  systemPage(3, 0x4163003B, info);
  // The page map lists itself too, so its own size is known beforehand.
  std::vector<uint8_t> map;
  for (const auto& p : pages) { le32(map, p.number); le32(map, p.size); }
  const size_t selfSize = 20 + (compressed ? Compress2004(std::vector<uint8_t>(map.size() + 8)).size() : map.size() + 8);
  le32(map, 4); le32(map, static_cast<uint32_t>(selfSize));
  const uint32_t mapAt = systemPage(4, 0x41630E3B, map);
  std::vector<uint8_t> head(0x6C, 0);
  const char magic[] = "AcFssFcAJMB";
  std::copy(magic, magic + 12, head.begin());
  for (int i = 0; i < 4; ++i) head[0x54 + i] = static_cast<uint8_t>((mapAt - 0x100) >> (8 * i));
  head[0x5C] = 3;
  uint32_t seed = 1;
  for (int i = 0; i < 0x6C; ++i) {
    seed = seed * 0x343FD + 0x269EC3;
    file[0x80 + i] = head[i] ^ static_cast<uint8_t>(seed >> 16);
  }
  return file;
}

}  // namespace kuribo::test
