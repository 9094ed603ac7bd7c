// Reader for the bit-packed fields of a drawing object. Bits run from the most
// significant bit of each byte, in byte order. Fields that are only passed over
// are skipped by working out their width, so no floating-point value is ever
// formed.
#pragma once

#include <cstdint>

namespace kuribo {

class BitReader {
 public:
  BitReader(const unsigned char* data, int32_t bytes)
      : data_(data), end_(bytes > 0 ? int64_t{bytes} * 8 : 0) {}

  int64_t Position() const { return pos_; }
  int64_t End() const { return end_; }
  // Set once a field ran past the end (or was malformed); never cleared. A
  // failed read yields 0 and leaves the position at the end.
  bool Failed() const { return failed_; }
  void Seek(int64_t bit);
  // Moves the end back to `bit` (never past the data).
  void Limit(int64_t bit) {
    if (bit >= 0 && bit < end_) end_ = bit;
    if (pos_ > end_) Fail();
  }

  uint32_t B() { return Bits(1); }
  uint32_t BB() { return Bits(2); }
  uint32_t RC() { return Bits(8); }
  uint32_t RS();  // low byte first
  uint32_t RL();  // low byte first
  void RD() { Skip(64); }
  uint32_t BS();
  uint32_t BL();
  void BD();
  void DD();
  void BE();
  void BT();
  // Returns the handle's byte count.
  uint32_t H();
  uint32_t CMC() { return BS(); }
  // A text value: its length, then that many bytes. Copies at most `cap` of
  // them to `out`, stopping at the end of the data (a cut text is not a
  // failure). Returns the count copied; `*declared` gets the stored length.
  int32_t TV(char* out, int32_t cap, uint32_t* declared);

  // Up to 32 bits as an unsigned value, first bit most significant.
  uint32_t Bits(int count);
  void Skip(int64_t count);

 private:
  bool Fail();

  const unsigned char* data_;
  int64_t end_;
  int64_t pos_ = 0;
  bool failed_ = false;
};

}  // namespace kuribo
