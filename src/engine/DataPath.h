#pragma once
// Where the files a data set names are found: relative paths resolve against a base
// folder first (the workbook's or the system file's), then as given, then in the
// bundled data folders (data/ beside the executable, the source tree's data/, and
// data/systems).

#include <string>
#include <vector>

namespace lumora {

/// The bundled data folders, in search order.
std::vector<std::string> BundledDataFolders();

/// The first existing file among the candidates, or `path` unchanged when none exists.
std::string ResolveDataPath(const std::string& path, const std::string& baseDir = {});

/// Why `path` cannot be read as a data file although something is there ("not a regular
/// file (a FIFO)"): a FIFO or a device would block the reader or never end. Empty for a
/// regular file (links followed) and for nothing at all.
std::string NotARegularFile(const std::string& path);

} // namespace lumora
