#include "support/zip_writer.h"

#include <zlib.h>

#include <stdexcept>

namespace kuribo::test {
namespace {

void Add16(std::string& s, uint32_t v) {
  s.push_back((char)(v & 0xFF));
  s.push_back((char)((v >> 8) & 0xFF));
}
void Add32(std::string& s, uint32_t v) {
  Add16(s, v & 0xFFFF);
  Add16(s, v >> 16);
}
void Add64(std::string& s, uint64_t v) {
  Add32(s, (uint32_t)v);
  Add32(s, (uint32_t)(v >> 32));
}

}  // namespace

std::string RawDeflate(const std::string& data) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = (Bytef*)data.data();
  z.avail_in = (uInt)data.size();
  z.next_out = (Bytef*)out.data();
  z.avail_out = (uInt)out.size();
  const int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

std::string BuildZip(const std::vector<ZipMember>& members, ZipOptions options) {
  const bool z64 = options.zip64;
  const uint32_t ones = 0xFFFFFFFFu;
  std::string out, central;
  for (const ZipMember& m : members) {
    const bool stored = m.way == ZipWay::kStore || m.way == ZipWay::kStoreWithDescriptor;
    const bool descriptor =
        m.way == ZipWay::kDeflateWithDescriptor || m.way == ZipWay::kStoreWithDescriptor;
    const uint16_t method = m.way == ZipWay::kRawMethod ? m.method : stored ? 0 : 8;
    const std::string data = stored || m.way == ZipWay::kRawMethod ? m.data : RawDeflate(m.data);
    const uint32_t crc = (uint32_t)crc32(0, (const Bytef*)m.data.data(), (uInt)m.data.size());
    const uint64_t offset = out.size();
    std::string localExtra;
    if (z64 && !descriptor) {
      Add16(localExtra, 1);
      Add16(localExtra, 16);
      Add64(localExtra, m.data.size());
      Add64(localExtra, data.size());
    }
    Add32(out, 0x04034B50);
    Add16(out, z64 ? 45 : 20);
    Add16(out, descriptor ? 0x08 : 0);
    Add16(out, method);
    Add32(out, 0x00210000);  // time, date
    Add32(out, descriptor ? 0 : crc);
    Add32(out, descriptor ? 0 : z64 ? ones : (uint32_t)data.size());
    Add32(out, descriptor ? 0 : z64 ? ones : (uint32_t)m.data.size());
    Add16(out, (uint32_t)m.name.size());
    Add16(out, (uint32_t)localExtra.size());
    out += m.name + localExtra + data;
    if (descriptor) {
      Add32(out, 0x08074B50);
      Add32(out, crc);
      if (z64) {
        Add64(out, data.size());
        Add64(out, m.data.size());
      } else {
        Add32(out, (uint32_t)data.size());
        Add32(out, (uint32_t)m.data.size());
      }
    }
    std::string extra;
    if (z64) {
      Add16(extra, 1);
      Add16(extra, 24);
      Add64(extra, m.data.size());
      Add64(extra, data.size());
      Add64(extra, offset);
    }
    Add32(central, 0x02014B50);
    Add16(central, z64 ? 45 : 20);
    Add16(central, z64 ? 45 : 20);
    Add16(central, descriptor ? 0x08 : 0);
    Add16(central, method);
    Add32(central, 0x00210000);
    Add32(central, crc);
    Add32(central, z64 ? ones : (uint32_t)data.size());
    Add32(central, z64 ? ones : (uint32_t)m.data.size());
    Add16(central, (uint32_t)m.name.size());
    Add16(central, (uint32_t)extra.size());
    Add16(central, 0);  // comment
    Add32(central, 0);  // disk number, internal attributes
    Add32(central, 0);  // external attributes
    Add32(central, z64 ? ones : (uint32_t)offset);
    central += m.name + extra;
  }
  if (!options.centralDirectory) return out;
  const uint64_t dirOffset = out.size();
  out += central;
  if (z64) {
    const uint64_t recordOffset = out.size();
    Add32(out, 0x06064B50);
    Add64(out, 44);
    Add16(out, 45);
    Add16(out, 45);
    Add32(out, 0);
    Add32(out, 0);
    Add64(out, members.size());
    Add64(out, members.size());
    Add64(out, central.size());
    Add64(out, dirOffset);
    Add32(out, 0x07064B50);
    Add32(out, 0);
    Add64(out, recordOffset);
    Add32(out, 1);
  }
  Add32(out, 0x06054B50);
  Add32(out, 0);
  Add16(out, z64 ? 0xFFFF : (uint32_t)members.size());
  Add16(out, z64 ? 0xFFFF : (uint32_t)members.size());
  Add32(out, z64 ? ones : (uint32_t)central.size());
  Add32(out, z64 ? ones : (uint32_t)dirOffset);
  Add16(out, 0);
  return out;
}

}  // namespace kuribo::test
