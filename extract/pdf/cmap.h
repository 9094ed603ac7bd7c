// Font maps of the PDF reader: code-space ranges and code-to-Unicode maps
// parsed from CMap streams, the glyph names of simple fonts, and the
// algorithmic Japanese encodings of predefined CMaps.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kuribo::pdf {

// One code-space range: codes of `bytes` bytes whose every byte lies within
// the bounds of its place.
struct CodeSpace {
  int bytes = 0;
  unsigned char lo[4] = {};
  unsigned char hi[4] = {};
};

// The length of the code at s (1 to 4 bytes) under the ranges; when none
// matches, the shortest range length (1 when there are none).
int CodeLength(const std::vector<CodeSpace>& space, const unsigned char* s, size_t n);

// A ToUnicode map: code -> UTF-16 units, with its code space.
class UnicodeMap {
 public:
  // Parses codespacerange, bfchar and bfrange (array destinations too).
  void Parse(std::string_view cmap);
  // Appends the code's units to out; false when the map has no entry.
  bool Lookup(uint32_t code, int bytes, std::u16string& out) const;
  bool Empty() const { return entries_.empty(); }
  const std::vector<CodeSpace>& space() const { return space_; }

 private:
  struct Entry {
    uint32_t lo, hi;
    int bytes;
    uint32_t offset;  // into pool_
    uint16_t length;  // units of the destination; 0xFFFF: an array of per-code strings
  };
  void Add(uint32_t lo, uint32_t hi, int bytes, std::u16string_view dst);
  std::vector<CodeSpace> space_;
  std::vector<Entry> entries_;
  std::u16string pool_;
  std::vector<std::pair<uint32_t, uint16_t>> arrays_;  // (offset, length) per code of an array entry
  bool sorted_ = true;
  void Sort();
  friend class CidMap;
};

// An embedded encoding CMap of a composite font: code -> CID.
class CidMap {
 public:
  void Parse(std::string_view cmap);
  // -1 when no range covers the code.
  int32_t Lookup(uint32_t code, int bytes) const;
  const std::vector<CodeSpace>& space() const { return space_; }
  const std::string& usecmap() const { return usecmap_; }

 private:
  struct Range {
    uint32_t lo, hi;
    int bytes;
    uint32_t cid;
  };
  std::vector<CodeSpace> space_;
  std::vector<Range> ranges_;
  std::string usecmap_;
};

// The Unicode value of a glyph name (the Adobe Glyph List where the build
// had it, else the Latin sets; uniXXXX, uXXXX[XX], a name with a suffix
// after '.', parts joined by '_'); empty when unknown.
std::u16string GlyphNameToUnicode(std::string_view name);

// Base encodings of simple fonts: 256 Unicode values each, 0 for no glyph.
const char16_t* StandardEncoding();
const char16_t* WinAnsiEncoding();
const char16_t* MacRomanEncoding();

// Japanese encodings whose codes convert to Shift_JIS by arithmetic, or to
// Unicode (the Unicode CMaps and the JIS X 0212 ones).
enum class JapaneseCodes { kNone, kShiftJis, kEuc, kJis, kUcs2, kUtf16, kUtf8, kUtf32, kHojo };
// Which kind of codes a predefined CMap name stands for, and its code space.
JapaneseCodes PredefinedCodes(std::string_view cmapName, std::vector<CodeSpace>& space);
// A Shift_JIS code (one or two bytes, high byte first) for an EUC-JP or JIS
// X 0208 row-cell code; -1 when outside those sets.
int EucToSjis(uint32_t code, int bytes);
int JisToSjis(uint32_t code);
// The code point of a code of the Unicode and JIS X 0212 kinds; 0 when the
// code is malformed or has none.
uint32_t PredefinedUnicode(JapaneseCodes codes, uint32_t code, int bytes);

#ifdef KURIBO_JAPAN1_UNICODE
// Adobe-Japan1 identifier -> Unicode (generated from poppler-data).
extern const char32_t kJapan1Unicode[];
extern const int32_t kJapan1UnicodeCount;
#endif

#ifdef KURIBO_GLYPH_LIST
// The Adobe Glyph List (generated from the aglfn package's glyphlist.txt).
struct GlyphListEntry {
  const char* name;
  const char16_t* text;
};
extern const GlyphListEntry kGlyphList[];
extern const int32_t kGlyphListCount;
#endif

}  // namespace kuribo::pdf
