#pragma once
// Chemical formulas: "NaCl", "Co(ClO4)2", "CoCl2*6H2O", "H2O".

#include <string>
#include <utility>
#include <vector>

namespace lumora {

class Database;

/// Elements of a formula as (atomic number, moles per formula unit), in order of first
/// appearance. False with the unknown symbol or the syntax problem in `problem`.
bool ParseFormula(const Database& db, const std::string& formula,
                  std::vector<std::pair<int, double>>& elements, std::string& problem);

} // namespace lumora
