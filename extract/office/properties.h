#pragma once

#include <cstdint>
#include <string>

namespace kuribo {

// Appends the text-valued document properties of the file at `path` at dst
// (the position right after the textLength bytes already extracted) and returns
// the new text length; textLength when nothing was added.
int32_t AppendDocumentProperties(const std::string& path, char* dst, int32_t textLength);

}  // namespace kuribo
