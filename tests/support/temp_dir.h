// A scratch folder for one test, removed with everything in it afterwards.
#pragma once

#include <string>

namespace kuribo::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Ends in "/". Holds only digits and dashes, so no keyword matches it by accident.
  const std::string& path() const { return path_; }
  // Writes `bytes` to path() + relative, making the folders on the way.
  std::string Write(const std::string& relative, const std::string& bytes) const;
  std::string MakeDir(const std::string& relative) const;

 private:
  std::string path_;
};

// The bytes of a file ("" when it cannot be read).
std::string ReadFile(const std::string& path);

}  // namespace kuribo::test
