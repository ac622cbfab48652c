#pragma once
// A new data-set workbook from the template ("lumora --new", "New data set...").

#include <cstdio>
#include <string>

namespace lumora {

/// Writes the template to path, never over an existing file. False with a reason.
bool WriteNewDataSet(const std::string& path, std::string& error);

/// "lumora --new path": the exit code (0 written, 1 refused or failed, with the reason on
/// err).
int NewDataSetCommand(const std::string& path, std::FILE* out = stdout, std::FILE* err = stderr);

} // namespace lumora
