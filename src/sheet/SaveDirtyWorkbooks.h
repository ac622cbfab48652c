#pragma once
// Saving after a command: every workbook the program wrote into goes back to
// its file, and every failure is reported.

#include "sheet/SpreadsheetApp.h"

#include <string>

namespace lumora {

/// Saves every workbook of the host that is dirty. False when one could not be
/// saved; message then holds one line per failure ("Cannot save NAME: reason").
bool SaveDirtyWorkbooks(SpreadsheetApp& app, std::string& message);

} // namespace lumora
