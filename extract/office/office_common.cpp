#include "extract/office/office_common.h"

#include <unistd.h>

#include <cstring>

#include "encoding/sjis.h"
#include "extract/context.h"
#include "extract/office/compound.h"
#include "platform/fs.h"

namespace kuribo::office {

int32_t LoadDocumentBytes(const std::string& path, std::initializer_list<const char*> streams,
                          int32_t at, unsigned char* file) {
  // The raw bytes come first, through the one open that refuses anything but
  // a regular file: a pipe swapped in for the document must not hang here.
  const int fd = OpenFileForReading(path);
  if (fd < 0) return -1;
  const int32_t got = (int32_t)ReadFully(fd, file, (size_t)kFileBufferSize);
  close(fd);
  if (!HasCompoundSignature(file, (size_t)got)) return got;
  CompoundFile cf;
  if (cf.Open(path)) {
    for (const char* name : streams) {
      int64_t n = cf.ReadStream(name, file + at, (size_t)(kFileBufferSize - at));
      if (n > 0) {
        std::memset(file, 0, (size_t)at);
        return at + (int32_t)n;
      }
    }
  }
  // The container gave nothing (damaged, or changed since): the file's bytes.
  const int again = OpenFileForReading(path);
  if (again < 0) return -1;
  const int32_t raw = (int32_t)ReadFully(again, file, (size_t)kFileBufferSize);
  close(again);
  return raw;
}

int32_t Utf16LeToSjis(const unsigned char* src, int32_t units, char* dst) {
  int32_t w = 0;
  for (int32_t i = 0; i < units; ++i) {
    char16_t u = (char16_t)(src[2 * i] | src[2 * i + 1] << 8);
    if (u == 0) break;
    int code = Utf16ToCp932(u);
    if (code < 0) {
      dst[w++] = '?';
    } else if (code < 0x100) {
      dst[w++] = (char)code;
    } else {
      dst[w++] = (char)(code >> 8);
      dst[w++] = (char)(code & 0xFF);
    }
  }
  return w;
}

}  // namespace kuribo::office
