// ConvertToShiftJis on arbitrary bytes: output within its cap, and compactable;
// detection scores as the decoders score, never above their ceilings;
// converted and walked in one pass as the walks walk the converted bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "encoding/convert.h"
#include "extract/text/compact.h"
#include "extract/text/plain.h"
#include "platform/cpu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Detection's lean scorers give what the decoders feeding a score give, fed
  // in two pieces cut anywhere, and detection chooses as the decoders would.
  const size_t cut = size ? (data[0] * 257u + data[size - 1]) % (size + 1) : 0;
  for (const auto enc : {kuribo::TextEncoding::kUtf8, kuribo::TextEncoding::kShiftJis,
                         kuribo::TextEncoding::kEucJp}) {
    const size_t probe = size < 1024 ? size : 1024;
    if (kuribo::DetectionScore(enc, data, probe, cut, false) > kuribo::DetectionScoreCeiling(enc, data, probe)) {
      std::abort();
    }
    for (const bool complete : {false, true}) {
      if (kuribo::DetectionScore(enc, data, size, cut, complete) !=
          kuribo::DetectionScoreReference(enc, data, size, complete)) {
        std::abort();
      }
    }
  }
  for (const bool complete : {false, true}) {
    if (kuribo::DetectTextEncoding(data, size, complete) !=
        kuribo::DetectTextEncodingReference(data, size, complete)) {
      std::abort();
    }
  }
  // Exactly the cap, so a write past it shows up.
  static std::unique_ptr<char[]> out(new char[kuribo::kConvertedTextCap]);
  const int32_t n = kuribo::ConvertToShiftJis(data, size, out.get());
  if (n < 0 || n > kuribo::kConvertedTextCap) std::abort();
  // Converting twice gives the same bytes (detection keeps no state).
  static std::unique_ptr<char[]> again(new char[kuribo::kConvertedTextCap]);
  const int32_t m = kuribo::ConvertToShiftJis(data, size, again.get());
  if (m != n || std::memcmp(out.get(), again.get(), (size_t)n) != 0) std::abort();
  // The run fast paths give what the byte-at-a-time state machines and the
  // chunked reader give.
  const int32_t s = kuribo::ConvertToShiftJisStepwise(data, size, again.get());
  if (s != n || std::memcmp(out.get(), again.get(), (size_t)n) != 0) std::abort();
  const int32_t k = kuribo::ConvertToShiftJisChunked(data, size, again.get());
  if (k != n || std::memcmp(out.get(), again.get(), (size_t)n) != 0) std::abort();
  // The same without the 256-bit paths.
  kuribo::AllowWideVectors(false);
  const int32_t w = kuribo::ConvertToShiftJis(data, size, again.get());
  kuribo::AllowWideVectors(true);
  if (w != n || std::memcmp(out.get(), again.get(), (size_t)n) != 0) std::abort();
  static std::unique_ptr<char[]> walked(new char[kuribo::kConvertedTextCap]);
  for (const auto walk : {kuribo::TextWalk::kCompact, kuribo::TextWalk::kHtml}) {
    bool one = false;
    const int32_t v = kuribo::ConvertToShiftJisWalked(data, size, walk, walked.get(), &one);
    std::memcpy(again.get(), out.get(), (size_t)n);
    const int32_t expect = !one ? n
                           : walk == kuribo::TextWalk::kHtml ? kuribo::WalkHtmlText(again.get(), n)
                                                             : kuribo::CompactText(again.get(), n);
    if (v != expect || std::memcmp(walked.get(), again.get(), (size_t)v) != 0) std::abort();
  }
  const int32_t c = kuribo::CompactText(out.get(), n);
  if (c < 0 || c > n) std::abort();
  return 0;
}
