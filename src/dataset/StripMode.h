#pragma once

#include <string>

namespace lumora {

/// Removes the first "/mode=" switch (any letter case) and the one character after it
/// from the solver options, then trims blanks; the reader appends its own "/mode=1".
/// Options without the switch stay as they are.
void StripMode(std::string& options);

} // namespace lumora
