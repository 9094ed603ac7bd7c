// Streams of compound documents (the container of .doc, .xls, .ppt and of
// document property sets): libgsf on POSIX, structured storage on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace kuribo {

// True when the bytes start with the 8-byte compound-document signature.
inline bool HasCompoundSignature(const unsigned char* bytes, size_t size) {
  static const unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  return size >= 8 && std::memcmp(bytes, kSignature, 8) == 0;
}

class CompoundFile {
 public:
  CompoundFile() = default;
  ~CompoundFile();
  CompoundFile(const CompoundFile&) = delete;
  CompoundFile& operator=(const CompoundFile&) = delete;

  // Opens the file (a regular file only, never blocking); false when it is not
  // a readable compound document. The signature is tested first, so other
  // files cost one short read.
  bool Open(const std::string& path);
  // Copies at most `cap` bytes of the top-level stream `name` to dst and returns
  // how many; -1 when there is no such stream or it cannot be read.
  int64_t ReadStream(const char* name, unsigned char* dst, size_t cap);
  // Full size of the top-level stream `name`; -1 when there is none.
  int64_t StreamSize(const char* name);

 private:
  void* input_ = nullptr;   // GsfInput* / unused
  void* infile_ = nullptr;  // GsfInfile* / IStorage*
};

}  // namespace kuribo
