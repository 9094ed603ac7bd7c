#pragma once

#include <cstdint>

namespace kuribo {

// In-place compaction of extracted Shift_JIS text: two-byte characters copied
// whole, the full-width space and every non-text byte turned into a space, runs
// of spaces collapsed, no leading space. Stops once more than 999,998 bytes have
// been emitted. Returns the new length (0 for a length of 0 or less).
// A lead byte at position length - 1 takes buf[length] with it: the buffer must
// hold one byte more than the text.
int32_t CompactText(char* buf, int32_t length);

}  // namespace kuribo
