// What the processor offers beyond the baseline the program is built for: the
// 256-bit paths of the text kernels are taken only where it has them, and the
// portable paths stay for the rest.
#pragma once

#include <atomic>

namespace kuribo {

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
inline bool ProcessorHasAvx2() {
  static const bool have = [] {
    __builtin_cpu_init();  // in case this runs before the runtime has set its feature table up
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  }();
  return have;
}
#else
inline bool ProcessorHasAvx2() { return false; }
#endif

inline std::atomic<bool>& WideVectorsAllowed() {
  static std::atomic<bool> allowed{true};
  return allowed;
}

// Whether work begun from now on may use the 256-bit paths where the processor
// has them (the default). The portable paths give the same bytes, which tests
// check by turning these off.
inline void AllowWideVectors(bool allowed) { WideVectorsAllowed().store(allowed, std::memory_order_relaxed); }

inline bool UseWideVectors() {
  return ProcessorHasAvx2() && WideVectorsAllowed().load(std::memory_order_relaxed);
}

}  // namespace kuribo
