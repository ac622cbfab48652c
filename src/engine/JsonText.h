#pragma once
// JSON output of the command-line tools.

#include <string>

namespace lumora {

/// A quoted JSON string with the escapes JSON requires.
std::string JsonString(const std::string& s);
/// A JSON number; null for NaN and infinities.
std::string JsonNumber(double x);

} // namespace lumora
