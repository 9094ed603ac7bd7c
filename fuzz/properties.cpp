// Two property-set streams: the first two bytes give the length of the first.
#include <cstdint>
#include <string_view>

#include "extract/office/properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t split = (size_t)(data[0] | (data[1] << 8));
  data += 2;
  size -= 2;
  if (split > size) split = size;
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::string text = kuribo::CollectDocumentProperties(all.substr(0, split), all.substr(split));
  // Three sections of 18 values, each at most the whole input, at most doubled by conversion.
  if (text.size() > 3 * 18 * (2 * size + 1)) __builtin_trap();
  return 0;
}
