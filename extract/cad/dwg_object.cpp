#include "extract/cad/dwg_object.h"

#include <cstring>

#include "encoding/sjis.h"

namespace kuribo {
namespace {

constexpr size_t kMaxTextBytes = 65535;
// More classes than any drawing defines: a count past it is damage.
constexpr uint32_t kMaxClasses = 8192;

void SkipPoint3(BitReader& r) {
  r.BD();
  r.BD();
  r.BD();
}

// A colour of an object's own data; from 2004 on it may carry a name and a
// book name, which sit with the other strings.
void SkipColour(BitReader& r, DwgEncoding e, DwgStrings& s) {
  r.BS();
  if (e < DwgEncoding::kR2004) return;
  r.BL();  // RGB
  const uint32_t flags = r.RC();
  if (flags & 1) s.Read(r);
  if (flags & 2) s.Read(r);
}

DwgClass ClassOf(const std::string& name) {
  if (name == "LAYOUT") return DwgClass::kLayout;
  if (name == "MULTILEADER") return DwgClass::kMultileader;
  if (name == "ARC_DIMENSION" || name == "LARGE_RADIAL_DIMENSION") return DwgClass::kDimension;
  return DwgClass::kOther;
}

}  // namespace

bool DwgStrings::Read(BitReader& main) {
  BitReader& r = stream != nullptr ? *stream : main;
  value.clear();
  const uint32_t length = r.BS();
  if (r.Failed()) return false;
  if (stream == nullptr) {  // 8-bit, cut where the data ends
    for (uint32_t i = 0; i < length && r.End() - r.Position() >= 8; ++i) {
      value.push_back(static_cast<char>(r.Bits(8)));
    }
    // Drawings count a terminating zero in the length; the value ends at the first.
    const size_t zero = value.find('\0');
    if (zero != std::string::npos) value.resize(zero);
    return true;
  }
  bool ended = false;
  for (uint32_t i = 0; i < length && r.End() - r.Position() >= 16; ++i) {  // low byte first
    const uint32_t u = r.RS();
    if (u == 0) ended = true;
    if (!ended && value.size() < kMaxTextBytes) AppendUtf8(value, u);
  }
  return true;
}

void DwgClasses::Read(const unsigned char* data, int64_t bytes, DwgEncoding e, bool sizeHigh) {
  if (bytes < 24 || bytes > INT32_MAX / 8) return;
  // Which releases write the second size word is not settled: the other
  // layout is tried when the stated one gives no class.
  if (!ReadWith(data, static_cast<int32_t>(bytes), e, sizeHigh) && e >= DwgEncoding::kR2010) {
    ReadWith(data, static_cast<int32_t>(bytes), e, !sizeHigh);
  }
}

bool DwgClasses::ReadWith(const unsigned char* data, int32_t n, DwgEncoding e, bool sizeHigh) {
  const uint32_t size = data[16] | (data[17] << 8) | (data[18] << 16) | (uint32_t{data[19]} << 24);
  BitReader r(data, n);
  r.Seek(20 * 8);
  if (int64_t{size} < n - 20) r.Limit(int64_t{20 + size} * 8);
  if (sizeHigh) r.RL();
  DwgStrings s;
  BitReader stream(data, 0);
  uint32_t last = UINT32_MAX;
  if (e >= DwgEncoding::kR2007) {
    // The data's size in bits, counted from this field; the strings end where it ends.
    const int64_t from = r.Position();
    const int64_t dataBits = from + r.RL();
    if (r.Failed() || !LocateDwgStrings(data, n, dataBits, stream)) return false;
    s.stream = &stream;
  }
  if (e >= DwgEncoding::kR2004) {
    last = r.BS();  // the highest class number
    r.RC();
    r.RC();
    r.B();
  }
  bool any = false;
  while (!r.Failed() && r.End() - r.Position() >= 8) {
    const uint32_t number = r.BS();
    r.BS();  // proxy flags
    s.Read(r);  // application
    s.Read(r);  // C++ class
    if (!s.Read(r)) break;
    const std::string name = s.value;
    r.B();   // was a zombie
    r.BS();  // item class
    if (e >= DwgEncoding::kR2004) {
      r.BL();  // objects of the class
      r.BL();  // version
      r.BL();  // maintenance version
      r.BL();
      r.BL();
    }
    if (r.Failed() || number < 500 || number - 500 >= kMaxClasses) break;
    if (kinds_.size() <= number - 500) kinds_.resize(number - 500 + 1, DwgClass::kOther);
    kinds_[number - 500] = ClassOf(name);
    any = true;
    if (number >= last) break;
  }
  return any;
}

bool LocateDwgStrings(const unsigned char* obj, int32_t bytes, int64_t dataBits, BitReader& s) {
  if (dataBits < 1 || dataBits > int64_t{bytes} * 8) return false;
  BitReader r(obj, bytes);
  r.Seek(dataBits - 1);
  if (r.B() == 0) return false;
  int64_t at = dataBits - 17;
  if (at < 0) return false;
  r.Seek(at);
  int64_t size = r.RS();
  if (size & 0x8000) {
    at -= 16;
    if (at < 0) return false;
    r.Seek(at);
    size = (size & 0x7FFF) | (int64_t{r.RS()} << 15);
  }
  const int64_t start = at - size;
  if (start < 0) return false;
  s = BitReader(obj, bytes);
  s.Seek(start);
  s.Limit(at);
  return !s.Failed();
}

bool ReadDimensionText(BitReader& r, DwgEncoding e, DwgStrings& s) {
  if (e >= DwgEncoding::kR2010) r.RC();  // version
  SkipPoint3(r);  // extrusion
  r.RD();         // text midpoint
  r.RD();
  r.BD();  // elevation
  r.RC();  // flags
  return !r.Failed() && s.Read(r);
}

bool ReadLayoutName(BitReader& r, DwgEncoding e, DwgStrings& s) {
  // The plot settings first.
  s.Read(r);  // page setup name
  s.Read(r);  // printer or configuration
  r.BS();     // flags
  for (int i = 0; i < 6; ++i) r.BD();  // margins, paper size
  s.Read(r);  // paper size name
  r.BD();     // plot origin
  r.BD();
  r.BS();  // paper units
  r.BS();  // rotation
  r.BS();  // plot type
  for (int i = 0; i < 4; ++i) r.BD();  // window corners
  if (e < DwgEncoding::kR2004) s.Read(r);  // view name; a handle later
  r.BD();  // real world units
  r.BD();  // drawing units
  s.Read(r);  // style sheet
  r.BS();     // scale type
  r.BD();     // scale factor
  r.BD();     // paper image origin
  r.BD();
  if (e >= DwgEncoding::kR2004) {
    r.BS();  // shade plot mode
    r.BS();  // resolution level
    r.BS();  // custom DPI
  }
  return !r.Failed() && s.Read(r);
}

bool ReadMultileaderText(BitReader& r, DwgEncoding e, DwgStrings& s) {
  if (e >= DwgEncoding::kR2010) r.BS();  // version
  // The context data: leader roots, each with its lines, before the content.
  const uint32_t roots = r.BL();
  for (uint32_t i = 0; i < roots && !r.Failed(); ++i) {
    r.B();  // content valid
    r.B();
    SkipPoint3(r);  // connection point
    SkipPoint3(r);  // direction
    const uint32_t breaks = r.BL();
    for (uint32_t j = 0; j < breaks && !r.Failed(); ++j) {
      SkipPoint3(r);
      SkipPoint3(r);
    }
    r.BL();  // leader index
    r.BD();  // landing distance
    const uint32_t lines = r.BL();
    for (uint32_t j = 0; j < lines && !r.Failed(); ++j) {
      const uint32_t points = r.BL();
      for (uint32_t k = 0; k < points && !r.Failed(); ++k) SkipPoint3(r);
      const uint32_t segments = r.BL();  // breaks, by segment
      for (uint32_t k = 0; k < segments && !r.Failed(); ++k) {
        r.BL();  // segment index
        const uint32_t pairs = r.BL();
        for (uint32_t m = 0; m < pairs && !r.Failed(); ++m) {
          SkipPoint3(r);
          SkipPoint3(r);
        }
      }
      r.BL();  // line index
      if (e >= DwgEncoding::kR2010) {
        r.BS();  // leader type
        SkipColour(r, e, s);
        r.BL();  // line weight
        r.BD();  // arrow size
        r.BL();  // override flags
      }
    }
    if (e >= DwgEncoding::kR2010) r.BS();  // attachment direction
  }
  r.BD();         // overall scale
  SkipPoint3(r);  // content base point
  r.BD();         // text height
  r.BD();         // arrowhead size
  r.BD();         // landing gap
  for (int i = 0; i < 4; ++i) r.BS();  // attachments and alignment
  if (r.Failed() || r.B() == 0) return false;  // no text content
  return !r.Failed() && s.Read(r);
}

}  // namespace kuribo
