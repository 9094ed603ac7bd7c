// UTF-8 to another encoding with glibc's own converter, an independent maker of
// test input ("" when the conversion fails).
#pragma once

#include <iconv.h>

#include <string>

namespace kuribo::test {

inline std::string Encode(const char* to, const std::string& utf8) {
  iconv_t cd = iconv_open(to, "UTF-8");
  if (cd == (iconv_t)-1) return "";
  std::string out(utf8.size() * 4 + 16, '\0');
  char* ip = const_cast<char*>(utf8.data());
  char* op = out.data();
  size_t il = utf8.size(), ol = out.size();
  const bool ok = iconv(cd, &ip, &il, &op, &ol) != (size_t)-1 &&
                  iconv(cd, nullptr, nullptr, &op, &ol) != (size_t)-1;
  iconv_close(cd);
  if (!ok) return "";
  out.resize(out.size() - ol);
  return out;
}

}  // namespace kuribo::test
