// Builders of compound documents and property-set streams for tests, so that a
// test shows byte by byte what its document holds.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kuribo::test {

struct CfbStream {
  std::string name;  // ASCII (control characters allowed, as in "\005SummaryInformation")
  std::string data;
};

// A version 3 compound document (512-byte sectors) whose root storage holds the
// given streams; streams under 4,096 bytes go to the mini stream as the format
// demands. Every stream reads back exactly through any conforming reader.
std::string BuildCompoundFile(const std::vector<CfbStream>& streams);

using Fmtid = std::array<unsigned char, 16>;
extern const Fmtid kFmtidSummaryInformation;      // {F29F85E0-4FF9-1068-AB91-08002B27B3D9}
extern const Fmtid kFmtidDocSummaryInformation;   // {D5CDD502-2E9C-101B-9397-08002B2CF9AE}
extern const Fmtid kFmtidUserDefinedProperties;   // {D5CDD505-2E9C-101B-9397-08002B2CF9AE}

struct Property {
  uint32_t id;
  uint16_t type;
  std::string value;  // the bytes after the type and its padding
};

// Property 1, the section's code page (VT_I2).
Property CodePageProperty(uint16_t codePage);
// VT_LPSTR: a byte count (the NUL included), the bytes, a NUL, padding to 4.
Property LpstrProperty(uint32_t id, std::string_view bytes);
// VT_LPWSTR: a character count (the NUL included), UTF-16LE units, padding to 4.
Property LpwstrProperty(uint32_t id, std::u16string_view text);
// VT_I4.
Property I4Property(uint32_t id, int32_t value);

struct PropertySection {
  Fmtid fmtid;
  std::vector<Property> properties;  // written in this order
};

// A property-set stream: the header, one (identifier, offset) entry per section,
// then the sections, each with its (id, offset) table and values.
std::string BuildPropertySetStream(const std::vector<PropertySection>& sections);

}  // namespace kuribo::test
