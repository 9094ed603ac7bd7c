// Fuzz target: whole-file extraction of .xls files, the compound-document
// path included.
#include "extract/office/office.h"
#include "file_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::ExtractFromFile(data, size, ".xls", kuribo::ExtractXlsText);
}
