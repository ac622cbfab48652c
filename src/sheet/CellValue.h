#pragma once

#include <string>
#include <variant>

namespace lumora {

/// A cell's value: empty, number, text or boolean.
using CellValue = std::variant<std::monostate, double, std::string, bool>;

inline bool IsEmpty(const CellValue& v) {
    return std::holds_alternative<std::monostate>(v);
}

} // namespace lumora
