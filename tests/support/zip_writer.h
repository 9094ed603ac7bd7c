// Builds ZIP packages byte by byte for the Open XML tests: deflated or stored
// members, sizes in the local header or in a data descriptor, ZIP64 records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kuribo::test {

enum class ZipWay { kDeflate, kStore, kDeflateWithDescriptor, kStoreWithDescriptor, kRawMethod };

struct ZipMember {
  std::string name;
  std::string data;
  ZipWay way = ZipWay::kDeflate;
  uint16_t method = 8;  // for kRawMethod: the method written, data taken as they are
};

struct ZipOptions {
  bool centralDirectory = true;
  // Every size and offset through the ZIP64 extra fields and end records.
  bool zip64 = false;
};

std::string RawDeflate(const std::string& data);
std::string BuildZip(const std::vector<ZipMember>& members, ZipOptions options = {});

}  // namespace kuribo::test
