// The program directory: where cmap.dat and the outside converters are looked
// for. A copy run from its own folder (a build, an unpacked archive) keeps
// them beside the executable; an installed copy has its executables in
// PREFIX/bin and its data in PREFIX/share/kuribo.
#pragma once

#include <filesystem>
#include <string>

#include "platform/fs.h"

namespace kuribo {

// `exeDir` ends in "/"; so does the result.
inline std::string ProgramDirectoryFor(const std::string& exeDir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::exists(exeDir + "cmap.dat", ec)) return exeDir;
  const fs::path bin = fs::path(exeDir).parent_path();
  if (bin.filename() == "bin") {
    const fs::path share = bin.parent_path() / "share" / "kuribo";
    if (fs::is_directory(share, ec)) return share.string() + "/";
  }
  return exeDir;
}

inline std::string ProgramDirectory() { return ProgramDirectoryFor(ExecutableDirectory()); }

}  // namespace kuribo
