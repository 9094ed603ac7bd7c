// A minimal compound-document writer for tests: one root storage holding
// top-level streams, sector size 512, no mini stream (every stream is padded
// to the 4,096-byte cut-off), the FAT after the data and the directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kuribo::test {

struct CfbStream {
  std::string name;  // ASCII
  std::string data;
};

enum class CfbLayout {
  kInOrder,     // each stream's sectors contiguous, streams in the order given
  kInterleaved  // one sector of each stream in turn: every stream fragmented
};

inline void PutLe(std::string& s, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = (char)((v >> (8 * i)) & 0xFF);
}

inline std::string BuildCompoundFile(std::vector<CfbStream> streams,
                                     CfbLayout layout = CfbLayout::kInOrder) {
  constexpr uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatSect = 0xFFFFFFFD;
  constexpr size_t kSector = 512;
  std::vector<size_t> sizes, counts;
  for (auto& s : streams) {
    sizes.push_back(s.data.size() < 4096 ? 4096 : s.data.size());
    s.data.resize((sizes.back() + kSector - 1) / kSector * kSector, '\0');
    counts.push_back(s.data.size() / kSector);
  }
  // Sector order of the data: (stream, chunk).
  std::vector<std::pair<size_t, size_t>> order;
  if (layout == CfbLayout::kInOrder) {
    for (size_t i = 0; i < streams.size(); ++i)
      for (size_t c = 0; c < counts[i]; ++c) order.push_back({i, c});
  } else {
    for (size_t c = 0, left = 1; left;) {
      left = 0;
      for (size_t i = 0; i < streams.size(); ++i)
        if (c < counts[i]) order.push_back({i, c}), ++left;
      ++c;
    }
  }
  const size_t dataSectors = order.size();
  const size_t dirSectors = (streams.size() + 1 + 3) / 4;
  size_t fatSectors = 1;
  while ((dataSectors + dirSectors + fatSectors) > fatSectors * 128) ++fatSectors;
  const size_t total = dataSectors + dirSectors + fatSectors;

  std::vector<uint32_t> fat(fatSectors * 128, kFree);
  std::vector<std::vector<uint32_t>> where(streams.size());
  for (size_t s = 0; s < order.size(); ++s) where[order[s].first].push_back((uint32_t)s);
  for (auto& w : where)
    for (size_t k = 0; k < w.size(); ++k) fat[w[k]] = k + 1 < w.size() ? w[k + 1] : kEnd;
  const uint32_t firstDir = (uint32_t)dataSectors;
  for (size_t k = 0; k < dirSectors; ++k)
    fat[firstDir + k] = k + 1 < dirSectors ? (uint32_t)(firstDir + k + 1) : kEnd;
  for (size_t k = 0; k < fatSectors; ++k) fat[dataSectors + dirSectors + k] = kFatSect;

  std::string out(kSector * (1 + total), '\0');
  const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  for (int i = 0; i < 8; ++i) out[i] = (char)sig[i];
  PutLe(out, 24, 0x003E, 2);
  PutLe(out, 26, 0x0003, 2);
  PutLe(out, 28, 0xFFFE, 2);
  PutLe(out, 30, 9, 2);
  PutLe(out, 32, 6, 2);
  PutLe(out, 44, fatSectors, 4);
  PutLe(out, 48, firstDir, 4);
  PutLe(out, 56, 4096, 4);
  PutLe(out, 60, kEnd, 4);
  PutLe(out, 68, kEnd, 4);
  for (size_t k = 0; k < 109; ++k)
    PutLe(out, 76 + 4 * k, k < fatSectors ? dataSectors + dirSectors + k : kFree, 4);

  for (size_t s = 0; s < order.size(); ++s)
    out.replace(kSector * (1 + s), kSector,
                streams[order[s].first].data.substr(order[s].second * kSector, kSector));

  auto entry = [&](size_t index, const std::string& name, int type, uint32_t right, uint32_t child,
                   uint32_t start, uint64_t size) {
    size_t at = kSector * (1 + firstDir) + 128 * index;
    for (size_t c = 0; c < name.size() && c < 31; ++c) out[at + 2 * c] = name[c];
    PutLe(out, at + 64, 2 * (name.size() + 1), 2);
    out[at + 66] = (char)type;
    out[at + 67] = 1;  // black
    PutLe(out, at + 68, kFree, 4);
    PutLe(out, at + 72, right, 4);
    PutLe(out, at + 76, child, 4);
    PutLe(out, at + 116, start, 4);
    PutLe(out, at + 120, size, 8);
  };
  for (size_t k = 0; k < dirSectors * 4; ++k) {
    size_t at = kSector * (1 + firstDir) + 128 * k;
    PutLe(out, at + 68, kFree, 4);
    PutLe(out, at + 72, kFree, 4);
    PutLe(out, at + 76, kFree, 4);
  }
  entry(0, "Root Entry", 5, kFree, streams.empty() ? kFree : 1, kEnd, 0);
  for (size_t i = 0; i < streams.size(); ++i)
    entry(i + 1, streams[i].name, 2, i + 1 < streams.size() ? (uint32_t)(i + 2) : kFree, kFree,
          where[i].front(), sizes[i]);

  for (size_t k = 0; k < fatSectors; ++k)
    for (size_t e = 0; e < 128; ++e)
      PutLe(out, kSector * (1 + dataSectors + dirSectors + k) + 4 * e, fat[k * 128 + e], 4);
  return out;
}

}  // namespace kuribo::test
