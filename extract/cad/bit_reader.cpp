#include "extract/cad/bit_reader.h"

namespace kuribo {

bool BitReader::Fail() {
  failed_ = true;
  pos_ = end_;
  return false;
}

void BitReader::Seek(int64_t bit) {
  if (bit < 0 || bit > end_) {
    Fail();
    return;
  }
  pos_ = bit;
}

uint32_t BitReader::Bits(int count) {
  if (count <= 0) return 0;
  if (count > 32 || end_ - pos_ < count) {
    Fail();
    return 0;
  }
  uint32_t value = 0;
  while (count > 0) {
    const int64_t byte = pos_ >> 3;
    const int offset = static_cast<int>(pos_ & 7);
    // Take as many bits as remain in this byte, up to what is still wanted.
    int take = 8 - offset;
    if (take > count) take = count;
    const uint32_t bits = (static_cast<uint32_t>(data_[byte]) >> (8 - offset - take)) &
                          ((1u << take) - 1);
    value = (value << take) | bits;
    pos_ += take;
    count -= take;
  }
  return value;
}

void BitReader::Skip(int64_t count) {
  if (count < 0 || end_ - pos_ < count) {
    Fail();
    return;
  }
  pos_ += count;
}

uint32_t BitReader::RS() {
  const uint32_t low = RC();
  return low | (RC() << 8);
}

uint32_t BitReader::RL() {
  const uint32_t low = RS();
  return low | (RS() << 16);
}

uint32_t BitReader::BS() {
  switch (BB()) {
    case 0: return RS();
    case 1: return RC();
    case 2: return 0;
    default: return 256;
  }
}

uint32_t BitReader::BL() {
  switch (BB()) {
    case 0: return RL();
    case 1: return RC();
    case 2: return 0;
    default: Fail(); return 0;  // code 11 is not a long
  }
}

void BitReader::BD() {
  switch (BB()) {
    case 0: RD(); break;
    case 1:  // 1.0
    case 2: break;  // 0.0
    default: Fail();  // code 11 is not a double
  }
}

void BitReader::DD() {
  switch (BB()) {
    case 0: break;  // the default value
    case 1: Skip(32); break;
    case 2: Skip(48); break;
    default: RD();
  }
}

void BitReader::BE() {
  if (B() == 0) {
    BD();
    BD();
    BD();
  }
}

void BitReader::BT() {
  if (B() == 0) BD();
}

uint32_t BitReader::H() {
  Bits(4);  // handle code
  const uint32_t count = Bits(4);
  Skip(int64_t{count} * 8);
  return count;
}

int32_t BitReader::TV(char* out, int32_t cap, uint32_t* declared) {
  const uint32_t length = BS();
  *declared = Failed() ? 0 : length;
  int32_t copied = 0;
  while (copied < cap && static_cast<uint32_t>(copied) < *declared && end_ - pos_ >= 8) {
    out[copied++] = static_cast<char>(Bits(8));
  }
  return copied;
}

}  // namespace kuribo
