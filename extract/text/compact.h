#pragma once

#include <cstdint>

namespace kuribo {

// In-place compaction of extracted Shift_JIS text: two-byte characters copied
// whole, the full-width space and every non-text byte turned into a space, runs
// of spaces collapsed, no leading space. At most the first 1,000,000 bytes are
// read, and the walk stops once more than 999,998 bytes have been emitted.
// Returns the new length (0 for a length of 0 or less). A lead byte that is the
// last byte of the text is dropped; nothing at or past buf[length] is read.
int32_t CompactText(char* buf, int32_t length);

}  // namespace kuribo
