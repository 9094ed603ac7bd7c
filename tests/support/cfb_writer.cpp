#include "support/cfb_writer.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace kuribo::test {
namespace {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kMiniSectorSize = 64;
constexpr uint32_t kMiniCutoff = 4096;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kNoStream = 0xFFFFFFFF;

void Put16(std::string& s, size_t at, uint16_t v) {
  s[at] = (char)(v & 0xFF);
  s[at + 1] = (char)(v >> 8);
}
void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = (char)((v >> (8 * i)) & 0xFF);
}
void Add16(std::string& s, uint16_t v) {
  s.push_back((char)(v & 0xFF));
  s.push_back((char)(v >> 8));
}
void Add32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back((char)((v >> (8 * i)) & 0xFF));
}
void PadTo(std::string& s, size_t multiple) {
  while (s.size() % multiple) s.push_back('\0');
}
uint32_t Count(size_t bytes, size_t unit) { return (uint32_t)((bytes + unit - 1) / unit); }

// Sibling order of directory entries: shorter names first, then by upper case.
bool DirectoryLess(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (size_t i = 0; i < a.size(); ++i) {
    const int x = std::toupper((unsigned char)a[i]), y = std::toupper((unsigned char)b[i]);
    if (x != y) return x < y;
  }
  return false;
}

void WriteEntry(std::string& dir, const std::string& name, uint8_t type, uint32_t right,
                uint32_t child, uint32_t start, uint32_t size) {
  std::string e(128, '\0');
  if (name.size() > 31) std::abort();
  for (size_t i = 0; i < name.size(); ++i) Put16(e, 2 * i, (unsigned char)name[i]);
  Put16(e, 64, (uint16_t)(2 * (name.size() + 1)));
  e[66] = (char)type;
  e[67] = 1;  // black
  Put32(e, 68, kNoStream);
  Put32(e, 72, right);
  Put32(e, 76, child);
  Put32(e, 116, start);
  Put32(e, 120, size);
  dir += e;
}

}  // namespace

std::string BuildCompoundFile(const std::vector<CfbStream>& input) {
  std::vector<CfbStream> streams = input;
  std::stable_sort(streams.begin(), streams.end(),
                   [](const CfbStream& a, const CfbStream& b) { return DirectoryLess(a.name, b.name); });

  // Small streams in the mini stream, the others in sectors of their own.
  std::string mini;
  std::vector<uint32_t> miniFat;
  std::vector<uint32_t> start(streams.size(), kEndOfChain);
  for (size_t i = 0; i < streams.size(); ++i) {
    const std::string& d = streams[i].data;
    if (d.empty() || d.size() >= kMiniCutoff) continue;
    start[i] = (uint32_t)miniFat.size();
    const uint32_t n = Count(d.size(), kMiniSectorSize);
    for (uint32_t k = 0; k < n; ++k)
      miniFat.push_back(k + 1 < n ? (uint32_t)miniFat.size() + 1 : kEndOfChain);
    mini += d;
    PadTo(mini, kMiniSectorSize);
  }

  const uint32_t dirSectors = Count((streams.size() + 1) * 128, kSectorSize);
  const uint32_t miniFatSectors = Count(miniFat.size() * 4, kSectorSize);
  const uint32_t miniSectors = Count(mini.size(), kSectorSize);
  uint32_t bigSectors = 0;
  for (const auto& s : streams)
    if (s.data.size() >= kMiniCutoff) bigSectors += Count(s.data.size(), kSectorSize);
  const uint32_t others = dirSectors + miniFatSectors + miniSectors + bigSectors;
  uint32_t fatSectors = 1;
  while (fatSectors * (kSectorSize / 4) < others + fatSectors) ++fatSectors;
  if (fatSectors > 109) std::abort();  // beyond the header's own table

  std::vector<uint32_t> fat(fatSectors * (kSectorSize / 4), kFreeSect);
  uint32_t next = 0;
  auto chain = [&](uint32_t n) {
    const uint32_t first = next;
    for (uint32_t k = 0; k < n; ++k, ++next) fat[next] = k + 1 < n ? next + 1 : kEndOfChain;
    return n ? first : kEndOfChain;
  };
  for (uint32_t k = 0; k < fatSectors; ++k) fat[next++] = kFatSect;
  const uint32_t dirStart = chain(dirSectors);
  const uint32_t miniFatStart = chain(miniFatSectors);
  const uint32_t miniStart = chain(miniSectors);
  std::string body;
  for (size_t i = 0; i < streams.size(); ++i) {
    if (streams[i].data.size() < kMiniCutoff) continue;
    start[i] = chain(Count(streams[i].data.size(), kSectorSize));
    body += streams[i].data;
    PadTo(body, kSectorSize);
  }

  std::string out(kSectorSize, '\0');
  const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(out.data(), sig, 8);
  Put16(out, 24, 0x003E);
  Put16(out, 26, 0x0003);
  Put16(out, 28, 0xFFFE);
  Put16(out, 30, 9);
  Put16(out, 32, 6);
  Put32(out, 44, fatSectors);
  Put32(out, 48, dirStart);
  Put32(out, 56, kMiniCutoff);
  Put32(out, 60, miniFatSectors ? miniFatStart : kEndOfChain);
  Put32(out, 64, miniFatSectors);
  Put32(out, 68, kEndOfChain);
  for (uint32_t k = 0; k < 109; ++k) Put32(out, 76 + 4 * k, k < fatSectors ? k : kFreeSect);

  for (uint32_t v : fat) Add32(out, v);

  // Root, then the streams chained as right siblings in directory order.
  std::string dir;
  WriteEntry(dir, "Root Entry", 5, kNoStream, streams.empty() ? kNoStream : 1,
             mini.empty() ? kEndOfChain : miniStart, (uint32_t)mini.size());
  for (size_t i = 0; i < streams.size(); ++i) {
    const uint32_t right = i + 1 < streams.size() ? (uint32_t)i + 2 : kNoStream;
    WriteEntry(dir, streams[i].name, 2, right, kNoStream, start[i],
               (uint32_t)streams[i].data.size());
  }
  while (dir.size() < dirSectors * kSectorSize) {
    std::string e(128, '\0');
    Put32(e, 68, kNoStream);
    Put32(e, 72, kNoStream);
    Put32(e, 76, kNoStream);
    dir += e;
  }
  out += dir;

  std::string miniFatBytes;
  for (uint32_t v : miniFat) Add32(miniFatBytes, v);
  while (miniFatBytes.size() < miniFatSectors * kSectorSize) Add32(miniFatBytes, kFreeSect);
  out += miniFatBytes;

  PadTo(mini, kSectorSize);
  out += mini;
  out += body;
  return out;
}

const Fmtid kFmtidSummaryInformation = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                        0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
const Fmtid kFmtidDocSummaryInformation = {0x02, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                           0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};
const Fmtid kFmtidUserDefinedProperties = {0x05, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                           0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};

Property CodePageProperty(uint16_t codePage) {
  std::string v;
  Add16(v, codePage);
  Add16(v, 0);
  return {1, 2, v};
}

Property LpstrProperty(uint32_t id, std::string_view bytes) {
  std::string v;
  Add32(v, (uint32_t)bytes.size() + 1);
  v.append(bytes);
  v.push_back('\0');
  PadTo(v, 4);
  return {id, 30, v};
}

Property LpwstrProperty(uint32_t id, std::u16string_view text) {
  std::string v;
  Add32(v, (uint32_t)text.size() + 1);
  for (char16_t u : text) Add16(v, u);
  Add16(v, 0);
  PadTo(v, 4);
  return {id, 31, v};
}

Property I4Property(uint32_t id, int32_t value) {
  std::string v;
  Add32(v, (uint32_t)value);
  return {id, 3, v};
}

std::string BuildPropertySetStream(const std::vector<PropertySection>& sections) {
  std::string out;
  Add16(out, 0xFFFE);
  Add16(out, 0);
  Add32(out, 0x00020006);
  out.append(16, '\0');
  Add32(out, (uint32_t)sections.size());
  const size_t table = out.size();
  out.append(20 * sections.size(), '\0');
  for (size_t i = 0; i < sections.size(); ++i) {
    PadTo(out, 4);
    std::memcpy(out.data() + table + 20 * i, sections[i].fmtid.data(), 16);
    Put32(out, table + 20 * i + 16, (uint32_t)out.size());
    const auto& props = sections[i].properties;
    std::string sec(8 + 8 * props.size(), '\0');
    Put32(sec, 4, (uint32_t)props.size());
    for (size_t k = 0; k < props.size(); ++k) {
      Put32(sec, 8 + 8 * k, props[k].id);
      Put32(sec, 12 + 8 * k, (uint32_t)sec.size());
      Add16(sec, props[k].type);
      Add16(sec, 0);
      sec += props[k].value;
      PadTo(sec, 4);
    }
    Put32(sec, 0, (uint32_t)sec.size());
    out += sec;
  }
  return out;
}

}  // namespace kuribo::test
