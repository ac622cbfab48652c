#pragma once

#include "State.h"

#include <string>

namespace lumora {

/// Saves every workbook of the host that the last command wrote into. False with the
/// reasons when a save failed (the file on disk then stays as it was).
bool SaveAfterCommand(State& st, std::string& error);

} // namespace lumora
