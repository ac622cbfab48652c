#pragma once
// Which spreadsheet host the program uses.

#include "sheet/SpreadsheetApp.h"

#include <string>

namespace lumora {

/// The attach function for the host named by `choice` ("embedded", "libreoffice", or ""
/// for the automatic choice). An empty function with a reason when that host is not
/// available.
HostAttach MakeHostAttach(const std::string& choice, std::string& error);

/// Ends a batch run on its host: the documents the LibreOffice host loaded for the run
/// close (those open before it came stay), so no copy outlives the run that a later
/// run could take for the file.
void CloseRunWorkbooks(SpreadsheetApp& app);

} // namespace lumora
