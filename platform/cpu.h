// What the processor offers beyond the baseline the program is built for: the
// 256-bit paths of the text kernels are taken only where it has them, and the
// portable paths stay for the rest.
#pragma once

namespace kuribo {

#if defined(__GNUC__) && defined(__x86_64__)
inline bool ProcessorHasAvx2() {
  static const bool have = [] {
    __builtin_cpu_init();  // in case this runs before the runtime has set its feature table up
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return have;
}
#else
inline bool ProcessorHasAvx2() { return false; }
#endif

}  // namespace kuribo
