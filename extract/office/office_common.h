// Pieces shared by the Word, Excel and PowerPoint readers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace kuribo::office {

// Fills `file` (kFileBufferSize bytes) for one document: when the path is a
// compound document holding one of `streams` (tried in order), that stream is
// laid at offset `at` and the bytes before it are zero; otherwise the file's
// first bytes are read from offset 0. Returns the count of valid bytes, -1 when
// the file cannot be read.
int32_t LoadDocumentBytes(const std::string& path, std::initializer_list<const char*> streams,
                          int32_t at, unsigned char* file);

// Little-endian reads that yield 0 for bytes at or beyond n.
inline uint32_t ByteAt(const unsigned char* p, int64_t n, int64_t i) {
  return i >= 0 && i < n ? p[i] : 0u;
}
inline uint32_t U16At(const unsigned char* p, int64_t n, int64_t i) {
  return ByteAt(p, n, i) | ByteAt(p, n, i + 1) << 8;
}
inline uint32_t U32At(const unsigned char* p, int64_t n, int64_t i) {
  return U16At(p, n, i) | U16At(p, n, i + 2) << 16;
}

// Writes `units` little-endian UTF-16 units from src as code page 932 at dst,
// ending at the first zero unit; a unit without a form becomes '?'. Returns the
// bytes written (at most 2 per unit).
int32_t Utf16LeToSjis(const unsigned char* src, int32_t units, char* dst);

}  // namespace kuribo::office
