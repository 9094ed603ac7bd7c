// Streams of compound documents (the container of .doc, .xls, .ppt and of
// document property sets), read through libgsf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kuribo {

// True when the bytes start with the 8-byte compound-document signature.
bool HasCompoundSignature(const unsigned char* bytes, size_t size);

class CompoundFile {
 public:
  CompoundFile() = default;
  ~CompoundFile();
  CompoundFile(const CompoundFile&) = delete;
  CompoundFile& operator=(const CompoundFile&) = delete;

  // Opens the file; false when it is not a readable compound document. The
  // signature is tested first, so other files cost one short read.
  bool Open(const std::string& path);
  // Copies at most `cap` bytes of the top-level stream `name` to dst and returns
  // how many; -1 when there is no such stream or it cannot be read.
  int64_t ReadStream(const char* name, unsigned char* dst, size_t cap);
  // Full size of the top-level stream `name`; -1 when there is none.
  int64_t StreamSize(const char* name);

 private:
  void* input_ = nullptr;   // GsfInput*
  void* infile_ = nullptr;  // GsfInfile*
};

}  // namespace kuribo
