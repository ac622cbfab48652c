#pragma once
// Which spreadsheet host the program uses.

#include "sheet/SpreadsheetApp.h"

#include <string>

namespace lumora {

/// The attach function for the host named by `choice` ("embedded", "libreoffice", or ""
/// for the automatic choice). An empty function with a reason when that host is not
/// available.
HostAttach MakeHostAttach(const std::string& choice, std::string& error);

} // namespace lumora
