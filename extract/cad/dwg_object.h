// Object fields shared by the drawing readers of every file structure: text
// values inline or in a string stream, the class table that names the types
// from 500 on, and the text of dimensions, layouts and multileaders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "extract/cad/bit_reader.h"

namespace kuribo {

// How objects are encoded, in the order the releases changed it.
enum class DwgEncoding { kR13, kR2000, kR2004, kR2007, kR2010, kR2013, kR2018 };

// The text values of one object: inline, in the drawing's code page, before
// 2007; UTF-16 in a stream at the end of the object's data from 2007 on.
struct DwgStrings {
  BitReader* stream = nullptr;  // null while strings are inline
  std::string value;            // the last one read (UTF-8 from a stream)
  // False when not even its length could be read.
  bool Read(BitReader& main);
};

// Object types whose text is read beside the fixed ones.
enum class DwgClass : uint8_t { kOther, kDimension, kLayout, kMultileader };

// The classes section: what each class number from 500 on stands for.
class DwgClasses {
 public:
  DwgClass Of(uint32_t type) const {
    return type >= 500 && type - 500 < kinds_.size() ? kinds_[type - 500] : DwgClass::kOther;
  }
  // `data` starts at the section's sentinel. `sizeHigh`: a second size word
  // follows the first (2010 and later, from the fourth maintenance release).
  // Classes read before a fault are kept.
  void Read(const unsigned char* data, int64_t bytes, DwgEncoding e, bool sizeHigh);

 private:
  bool ReadWith(const unsigned char* data, int32_t n, DwgEncoding e, bool sizeHigh);

  std::vector<DwgClass> kinds_;
};

// The string stream of an object of 2007 or later: it ends where the data
// ends (`dataBits`), a flag bit before that says whether there is one, a 15- or
// 30-bit size before the flag. `s` is set to read it.
bool LocateDwgStrings(const unsigned char* obj, int32_t bytes, int64_t dataBits, BitReader& s);

// A dimension of a fixed type (ordinate to diameter) or of a class.
inline bool IsDimension(uint32_t type, const DwgClasses& classes) {
  return (type >= 20 && type <= 26) || classes.Of(type) == DwgClass::kDimension;
}

// A layout: a class in drawings up to 2000, a fixed type later.
inline bool IsLayout(uint32_t type, const DwgClasses& classes) {
  return type == 82 || classes.Of(type) == DwgClass::kLayout;
}

// Each reads from just after the common entity (or object) data and leaves
// the text in `s.value`; false when the object does not parse that far.
bool ReadDimensionText(BitReader& r, DwgEncoding e, DwgStrings& s);
bool ReadLayoutName(BitReader& r, DwgEncoding e, DwgStrings& s);
bool ReadMultileaderText(BitReader& r, DwgEncoding e, DwgStrings& s);

}  // namespace kuribo
