#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kuribo {

// Appends the text-valued document properties of the file at `path` at dst
// (the position right after the textLength bytes already extracted) and returns
// the new text length; textLength when nothing was added.
int32_t AppendDocumentProperties(const std::string& path, char* dst, int32_t textLength);

// The string properties of the two property-set streams (either may be empty
// or damaged), each preceded by one space, in Shift_JIS; not yet trimmed.
std::string CollectDocumentProperties(std::string_view summaryInformation,
                                      std::string_view documentSummaryInformation);

}  // namespace kuribo
