#pragma once
// What the TOML readers (database, system file, import description) take from a node:
// its line for messages and its value as a number.

#include <toml++/toml.h>

#include <cmath>
#include <cstdint>
#include <optional>

namespace lumora {

/// The line a node starts on (1-based).
inline int TomlLine(const toml::node& n) {
    return static_cast<int>(n.source().begin.line);
}

/// A finite number (integer or floating point) of a node; nothing otherwise.
inline std::optional<double> TomlNumber(const toml::node& n) {
    std::optional<double> v;
    if (n.is_integer())
        v = static_cast<double>(*n.value_exact<int64_t>());
    else if (n.is_floating_point())
        v = *n.value_exact<double>();
    if (v && !std::isfinite(*v)) v.reset();
    return v;
}

} // namespace lumora
