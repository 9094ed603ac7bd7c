#include "extract/cad/dwg.h"

#include <cstdio>
#include <cstring>

#include "extract/cad/bit_reader.h"
#include "extract/text/compact.h"

namespace kuribo {
namespace {

// Only this much of a map section or an object is decoded.
constexpr int32_t kChunk = 2048;
constexpr int32_t kMaxTextBytes = 2046;
// Text entities whose leading fields end beyond this bit are not read.
constexpr int64_t kMaxTextStart = 16000;
constexpr int32_t kRoom = 2048;

// The bytes of a section or object that are decoded: the first 2,048 of its
// stated size, cut where the data read ends. The object map lies within the
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

// Leading fields of a text entity up to its text value. False when the entity
// is not to be read: it carries extended data or a preview, or a field runs
// past the object.
bool SkipToTextValue(BitReader& r, Layout layout) {
  if (layout == Layout::kR13) {
    r.Seek(10);  // the object type, already checked
    r.H();
    if (r.BB() != 2) return false;  // extended data size not 0
    if (r.B() != 0) return false;   // preview image
    r.RL();                         // object size in bits
    r.BB();                         // entity mode
    r.BL();                         // reactors
    r.B();                          // linetype by layer
    r.B();                          // no links
    r.CMC();
    r.BD();  // linetype scale
    r.BS();  // invisibility
    r.BD();  // elevation
    r.Skip(4 * 64);  // insertion and alignment points
    for (int i = 0; i < 8; ++i) r.BD();  // extrusion, thickness, angles, height, width
  } else {
    r.Seek(10);
    r.RL();  // object size in bits
    r.H();
    if (r.BB() != 2) return false;
    if (r.B() != 0) return false;
    r.BB();   // entity mode
    r.BL();   // reactors
    r.B();    // no links
    r.CMC();
    r.BD();   // linetype scale
    r.BB();   // linetype flags
    r.BB();   // plot style flags
    r.BS();   // invisibility
    r.RC();   // line weight
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
  return !r.Failed() && r.Position() <= kMaxTextStart;
}

// Appends the text value of the object, if it is a readable text entity.
// Returns true when the object was a text entity of a known layout.
bool TakeTextEntity(const unsigned char* obj, int32_t objLen, Layout layout, char* text,
                    int32_t& out) {
  if (objLen < 2 || obj[0] != 0x40 || (obj[1] >> 6) != 1) return false;  // not type 1
  BitReader r(obj, objLen);
  if (!SkipToTextValue(r, layout)) return true;
  char value[kMaxTextBytes + 2];
  uint32_t declared = 0;
  int32_t length = r.TV(value, kMaxTextBytes, &declared);
  if (declared == 0) return true;
  // The value ends at its first zero byte: drawings store the terminating zero
  // inside the counted length. The separating space goes after that end, so
  // that neighbouring values do not run together.
  const void* zero = std::memchr(value, 0, static_cast<size_t>(length));
  if (zero != nullptr) length = static_cast<int32_t>(static_cast<const char*>(zero) - value);
  value[length++] = ' ';
  const bool room = layout == Layout::kR13 ? out + kRoom < kMaxTextLength
                                           : length + out < kMaxTextLength;
  if (room) {
    std::memcpy(text + out, value, static_cast<size_t>(length));
    out += length;
  }
  return true;
}

}  // namespace

int32_t ExtractDwgBytes(const unsigned char* data, int32_t n, ExtractionContext& ctx) {
  if (data == nullptr || n < 52 || !ctx.Ready()) return 0;
  const Layout layout = LayoutOf(data);
  if (layout == Layout::kNone) return 0;
  const int64_t mapStart = Le32(data + 44);
  const int64_t mapEnd = mapStart + Le32(data + 48);
  char* text = ctx.text.get();
  int32_t out = 0;

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
      const unsigned char* object = data + location;
      const int32_t objLen = ChunkLength(object[0] | (object[1] << 8), n - location - 2);
      if (TakeTextEntity(object + 2, objLen, layout, text, out) && out + kRoom >= kMaxTextLength) {
        break;
      }
    }
    section += sectionSize + 2;
  }
  return CompactText(text, out);
}

int ExtractDwgText(const std::string& path, int32_t size, ExtractionContext& ctx) {
  if (!ctx.Ready()) return 0;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  int64_t want = int64_t{size} + 10;
  if (want > kFileBufferSize) want = kFileBufferSize;
  size_t got = 0;
  if (want > 0) got = std::fread(ctx.file.get(), 1, static_cast<size_t>(want), f);
  std::fclose(f);
  return ExtractDwgBytes(ctx.file.get(), static_cast<int32_t>(got), ctx);
}

}  // namespace kuribo
