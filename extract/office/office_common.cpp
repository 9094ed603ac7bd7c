#include "extract/office/office_common.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "encoding/sjis.h"
#include "extract/context.h"
#include "extract/office/compound.h"
#include "platform/fs.h"

namespace kuribo::office {
namespace {

int32_t ReadRaw(const std::string& path, unsigned char* file) {
  const int fd = OpenFileForReading(path);
  if (fd < 0) return -1;
  int32_t got = 0;
  while (got < kFileBufferSize) {
    ssize_t r = ::read(fd, file + got, (size_t)(kFileBufferSize - got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += (int32_t)r;
  }
  ::close(fd);
  return got;
}

}  // namespace

int32_t LoadDocumentBytes(const std::string& path, std::initializer_list<const char*> streams,
                          int32_t at, unsigned char* file) {
  CompoundFile cf;
  if (cf.Open(path)) {
    for (const char* name : streams) {
      int64_t got = cf.ReadStream(name, file + at, (size_t)(kFileBufferSize - at));
      if (got > 0) {
        std::memset(file, 0, (size_t)at);
        return at + (int32_t)got;
      }
    }
  }
  return ReadRaw(path, file);
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
