#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "app/search.h"

namespace kuribo {

// The CSV export: keyword line, header line, one line per row (NO from 1 in the
// given order), Shift_JIS with CR LF.
std::string BuildCsv(const std::vector<std::string>& sjisKeywords, const std::vector<ResultRow>& rows);

// Writes `bytes` to `path` through a temporary file beside it and a rename: a
// failed write (a full disk) leaves an old file as it was and no partial one.
// False when the file could not be written.
bool WriteFileReplacing(const std::string& path, const std::string& bytes);

// "kuri_export" + yyyymmddhhnnsszz + ".csv" for the current local time.
std::string ExportFileName();
// The same for a given local time; milliseconds always with three digits.
std::string ExportFileNameAt(const struct tm& localTime, int milliseconds);

}  // namespace kuribo
