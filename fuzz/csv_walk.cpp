// The CSV comma walk on arbitrary Shift_JIS bytes, against the byte-by-byte rules.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "extract/text/plain.h"
#include "extract/text/walk.h"
#include "tests/support/reference_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2'000'000) return 0;
  std::vector<char> buf(data, data + size);  // exactly the text, so a read past it shows up
  const int32_t n = kuribo::WalkCsvText(buf.data(), (int32_t)size);
  const std::string want = kuribo::test::ReferenceWalk(
      std::string(reinterpret_cast<const char*>(data), size), kuribo::test::WalkRules::kCsv);
  if (n < 0 || std::string(buf.data(), (size_t)n) != want) std::abort();
  // The same walk from the input into another buffer, as small as it may be.
  if (size == 0) return 0;
  const int32_t limit = (int32_t)size;
  std::vector<unsigned char> out((size_t)limit);
  const int32_t m = kuribo::walk::FastWalk<kuribo::walk::Mode::kCsv>(data, out.data(), limit, (int32_t)size);
  if (m != n || std::string(reinterpret_cast<const char*>(out.data()), (size_t)m) != want) std::abort();
  return 0;
}
