// Byte constants for the 256-bit text loops. Those loops need more constants
// than there are vector registers, and the compiler rebuilds set1 constants
// from immediates in every iteration (three instructions each); loaded from
// this table they become memory operands of the instructions that use them.
#pragma once

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>

namespace kuribo::splat {

// Every byte value repeated over 32 bytes.
struct alignas(32) Table {
  unsigned char v[256][32];
  constexpr Table() : v() {
    for (int c = 0; c < 256; ++c) {
      for (int k = 0; k < 32; ++k) v[c][k] = (unsigned char)c;
    }
  }
};
inline constexpr Table kTable;

// The table at an address hidden from the optimiser, which would otherwise
// fold the loads back into immediates. Made once per loop, outside it.
class Consts {
 public:
  Consts() : base_(&kTable.v[0][0]) { asm("" : "+r"(base_)); }

  __attribute__((target("avx2"))) __m256i K(unsigned char c) const {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(base_ + 32 * c));
  }
  // 0xFF in the lanes where b < lo or b > hi (unsigned): the range moved to
  // the bottom of the signed bytes, one compare against its top.
  __attribute__((target("avx2"))) __m256i Out(__m256i v, unsigned char lo, unsigned char hi) const {
    return _mm256_cmpgt_epi8(_mm256_add_epi8(v, K((unsigned char)(0x80 - lo))), K((unsigned char)(hi - lo - 0x80)));
  }
  __attribute__((target("avx2"))) __m256i Is(__m256i v, unsigned char c) const {
    return _mm256_cmpeq_epi8(v, K(c));
  }

 private:
  const unsigned char* base_;
};

}  // namespace kuribo::splat

#endif
