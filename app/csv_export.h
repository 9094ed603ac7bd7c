#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "app/search.h"
#include "platform/fs.h"  // WriteFileReplacing, for the exports

namespace kuribo {

// The CSV export: keyword line, header line, one line per row (NO from 1 in the
// given order), Shift_JIS with CR LF.
std::string BuildCsv(const std::vector<std::string>& sjisKeywords, const std::vector<ResultRow>& rows);

// "kuri_export" + yyyymmddhhnnsszz + ".csv" for the current local time.
std::string ExportFileName();
// The same for a given local time; milliseconds always with three digits.
std::string ExportFileNameAt(const struct tm& localTime, int milliseconds);

}  // namespace kuribo
