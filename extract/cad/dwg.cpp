#include "extract/cad/dwg.h"

#include <unistd.h>

#include <cstring>
#include <string>

#include "extract/cad/bit_reader.h"
#include "extract/cad/drawing_text.h"
#include "extract/cad/dwg2004.h"
#include "extract/cad/dwg_object.h"
#include "extract/text/compact.h"
#include "platform/fs.h"

namespace kuribo {
namespace {

// Only this much of a map section or an object is decoded.
constexpr int32_t kChunk = 2048;

// The bytes of a map section that are decoded: the first 2,048 of its stated
// size, cut where the data read ends. The object map lies within the
// last few hundred bytes of a drawing, so demanding 2,048 bytes after a
// section would lose it.
int32_t ChunkLength(int32_t stated, int64_t available) {
  int64_t len = stated < kChunk ? stated : kChunk;
  if (len > available) len = available;
  return len > 0 ? static_cast<int32_t>(len) : 0;
}

enum class Layout { kNone, kR13, kR2000 };

Layout LayoutOf(const unsigned char* data) {
  if (std::memcmp(data, "AC1012", 6) == 0 || std::memcmp(data, "AC1013", 6) == 0 ||
      std::memcmp(data, "AC1014", 6) == 0) {
    return Layout::kR13;
  }
  if (std::memcmp(data, "AC1015", 6) == 0) return Layout::kR2000;
  return Layout::kNone;
}

uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Object types whose text is read.
constexpr uint32_t kText = 1, kAttrib = 2, kAttdef = 3, kMtext = 44, kBlockHeader = 49,
                   kLayer = 51;

// Extended entity data: (size, application handle, data) until a size of 0.
void SkipExtendedData(BitReader& r) {
  for (uint32_t size = r.BS(); size != 0 && !r.Failed(); size = r.BS()) {
    r.H();
    r.Skip(int64_t{size} * 8);
  }
}

// The fields every entity has, after its handle and extended data.
void SkipCommonEntity(BitReader& r, Layout layout) {
  if (r.B()) r.Skip(int64_t{r.RL()} * 8);  // preview image
  if (layout == Layout::kR13) r.RL();      // object size in bits
  r.BB();                                  // entity mode
  r.BL();                                  // reactors
  if (layout == Layout::kR13) r.B();       // linetype by layer
  r.B();                                   // no links
  r.CMC();
  r.BD();  // linetype scale
  if (layout == Layout::kR2000) {
    r.BB();  // linetype flags
    r.BB();  // plot style flags
  }
  r.BS();  // invisibility
  if (layout == Layout::kR2000) r.RC();  // line weight
}

// Single-line text, attribute and attribute definition: the fields before the value.
void SkipTextFields(BitReader& r, Layout layout) {
  if (layout == Layout::kR13) {
    r.BD();           // elevation
    r.Skip(4 * 64);   // insertion and alignment points
    for (int i = 0; i < 8; ++i) r.BD();  // extrusion, thickness, angles, height, width
    return;
  }
  const uint32_t flags = r.RC();
  if (!(flags & 0x01)) r.RD();  // elevation
  r.RD();                       // insertion point
  r.RD();
  if (!(flags & 0x02)) {  // alignment point
    r.DD();
    r.DD();
  }
  r.BE();  // extrusion
  r.BT();  // thickness
  if (!(flags & 0x04)) r.RD();  // oblique angle
  if (!(flags & 0x08)) r.RD();  // rotation angle
  r.RD();                       // height
  if (!(flags & 0x10)) r.RD();  // width factor
}

void SkipMtextFields(BitReader& r) {
  for (int i = 0; i < 9; ++i) r.BD();  // insertion point, extrusion, x direction
  r.BD();  // rectangle width
  r.BD();  // text height
  r.BS();  // attachment
  r.BS();  // drawing direction
  r.BD();  // extents height
  r.BD();  // extents width
}

// Appends the text of the object, if it is one of the types read.
void TakeObjectText(const unsigned char* obj, int32_t objLen, Layout layout, const DwgClasses& classes,
                    TextSink& sink, DwgStrings& strings) {
  BitReader r(obj, objLen);
  const uint32_t type = r.BS();
  const bool dimension = IsDimension(type, classes);
  const DwgClass cls = classes.Of(type);
  const bool sheet = IsLayout(type, classes);
  const bool named = type == kBlockHeader || type == kLayer || sheet;
  if (type != kText && type != kAttrib && type != kAttdef && type != kMtext && !named && !dimension &&
      cls != DwgClass::kMultileader) {
    return;
  }
  const DwgEncoding e = layout == Layout::kR13 ? DwgEncoding::kR13 : DwgEncoding::kR2000;
  if (layout == Layout::kR2000) r.RL();  // object size in bits
  r.H();
  SkipExtendedData(r);
  bool ok;
  if (named) {
    if (layout == Layout::kR13) r.RL();
    r.BL();  // reactors
    ok = sheet ? ReadLayoutName(r, e, strings) : strings.Read(r);
  } else {
    SkipCommonEntity(r, layout);
    if (dimension) {
      ok = ReadDimensionText(r, e, strings);
    } else if (cls == DwgClass::kMultileader) {
      ok = ReadMultileaderText(r, e, strings);
    } else {
      if (type == kMtext) SkipMtextFields(r);
      else SkipTextFields(r, layout);
      ok = strings.Read(r);
    }
  }
  if (!ok) return;
  const std::string& value = strings.value;
  // Anonymous blocks (*Model_Space, *D3) are the program's names, not the user's.
  if (named && !value.empty() && value[0] == '*') return;
  sink.Add(value, type == kMtext || dimension || cls == DwgClass::kMultileader);
}

// Drawings of a code page we cannot name pass their bytes through, as
// Shift_JIS ones may.
void SetHeaderCodePage(const unsigned char* data, TextSink& sink) {
  if (const unsigned cp = DwgCodePage(data[0x13] | (data[0x14] << 8))) sink.SetCodePage(cp);
}

}  // namespace

int32_t ExtractDwgBytes(const unsigned char* data, int32_t n, ExtractionContext& ctx) {
  if (data == nullptr || n < 52 || !ctx.Ready()) return 0;
  const Layout layout = LayoutOf(data);
  if (layout == Layout::kNone) {
    TextSink sink(ctx.text.get());
    SetHeaderCodePage(data, sink);
    ReadDwg2004(data, n, sink);
    return CompactText(ctx.text.get(), sink.Length());
  }
  const int64_t mapStart = Le32(data + 44);
  const int64_t mapEnd = mapStart + Le32(data + 48);
  TextSink sink(ctx.text.get());
  SetHeaderCodePage(data, sink);
  DwgStrings strings;
  // The classes section, found like the object map by its locator record.
  DwgClasses classes;
  const int64_t classesAt = Le32(data + 0x23);
  const int64_t classesSize = Le32(data + 0x27);
  if (classesAt < n) {
    classes.Read(data + classesAt, classesSize < n - classesAt ? classesSize : n - classesAt, DwgEncoding::kR13,
                 false);
  }

  for (int64_t section = mapStart; section + 4 < mapEnd;) {
    if (section + 2 > n) break;
    const unsigned char* head = data + section;
    const int32_t sectionSize = (head[0] << 8) | head[1];
    if (sectionSize == 0) break;
    const unsigned char* entries = head + 2;
    // Every entry up to the check value is read, the last one included; an
    // entry cut by the end of the section or of the data is not.
    const int32_t len = ChunkLength(sectionSize - 2, n - section - 2);
    int64_t location = 0;
    int32_t q = 0;
    while (q < len) {
      // The handle offset is passed over; it must end inside the section.
      while (q < len && (entries[q] & 0x80)) ++q;
      if (q >= len) break;
      // The location offset: a modular character of at most four bytes, the
      // fourth always the last, the last carrying the sign in bit 0x40.
      int32_t p = q + 1;
      int64_t delta = 0;
      bool negative = false;
      bool complete = false;
      for (int k = 0; k < 4 && p < len; ++k, ++p) {
        const unsigned char c = entries[p];
        if ((c & 0x80) && k < 3) {
          delta |= int64_t{c & 0x7F} << (7 * k);
          continue;
        }
        delta |= int64_t{c & 0x3F} << (7 * k);
        negative = (c & 0x40) != 0;
        complete = true;
        ++p;
        break;
      }
      if (!complete) break;  // cut at the end of the section
      location += negative ? -delta : delta;
      q = p;

      if (location < 0 || location + 2 > n) continue;
      // The object's size, a modular short: 15 bits a word, low word first.
      const unsigned char* object = data + location;
      int32_t size = (object[0] | (object[1] << 8)) & 0x7FFF;
      int32_t head = 2;
      if ((object[1] & 0x80) && location + 4 <= n) {
        size |= ((object[2] | (object[3] << 8)) & 0x7FFF) << 15;
        head = 4;
      }
      int64_t objLen = n - location - head;
      if (objLen > size) objLen = size;
      if (objLen > 0) TakeObjectText(object + head, static_cast<int32_t>(objLen), layout, classes, sink, strings);
      if (sink.Full()) break;
    }
    if (sink.Full()) break;
    section += sectionSize + 2;
  }
  return CompactText(ctx.text.get(), sink.Length());
}

int ExtractDwgText(const std::string& path, int32_t size, ExtractionContext& ctx) {
  if (!ctx.Ready()) return 0;
  const int fd = OpenFileForReading(path);
  if (fd < 0) return 0;
  int64_t want = int64_t{size} + 10;
  if (want > kFileBufferSize) want = kFileBufferSize;
  size_t got = 0;
  if (want > 0) got = ReadFully(fd, ctx.file.get(), static_cast<size_t>(want));
  close(fd);
  return ExtractDwgBytes(ctx.file.get(), static_cast<int32_t>(got), ctx);
}

}  // namespace kuribo
