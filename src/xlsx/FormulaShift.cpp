#include "xlsx/FormulaShift.h"

#include "sheet/CellRef.h"

#include <cctype>

namespace lumora {

namespace {

bool IsRefChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$' ||
           c == '\\';
}

/// Shifts one token when it is an A1 cell reference; other tokens come back unchanged.
std::string ShiftToken(const std::string& token, int rows, int cols) {
    size_t i = 0;
    bool colAbs = false, rowAbs = false;
    if (i < token.size() && token[i] == '$') colAbs = true, ++i;
    size_t letters = i;
    while (i < token.size() && token[i] >= 'A' && token[i] <= 'Z') ++i;
    size_t nLetters = i - letters;
    if (nLetters < 1 || nLetters > 3) return token;
    if (i < token.size() && token[i] == '$') rowAbs = true, ++i;
    size_t digits = i;
    while (i < token.size() && std::isdigit(static_cast<unsigned char>(token[i]))) ++i;
    if (i != token.size() || i == digits || i - digits > 7) return token;
    int row, col;
    std::string plain = token.substr(letters, nLetters) + token.substr(digits);
    if (!ParseCellRef(plain, row, col)) return token;
    if (!colAbs) col += cols;
    if (!rowAbs) row += rows;
    if (!ValidCell(row, col)) return "#REF!";
    return (colAbs ? "$" : "") + ColumnName(col) + (rowAbs ? "$" : "") + std::to_string(row);
}

} // namespace

std::string ShiftFormula(const std::string& formula, int rows, int cols) {
    std::string out;
    size_t n = formula.size();
    for (size_t i = 0; i < n;) {
        char ch = formula[i];
        if (ch == '"' || ch == '\'') {
            // String literals and quoted sheet names are copied whole (doubled quotes inside).
            size_t j = i + 1;
            while (j < n) {
                if (formula[j] == ch) {
                    if (j + 1 < n && formula[j + 1] == ch) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            j = std::min(j + 1, n);
            out.append(formula, i, j - i);
            i = j;
        } else if (IsRefChar(ch)) {
            size_t j = i;
            while (j < n && IsRefChar(formula[j])) ++j;
            std::string token = formula.substr(i, j - i);
            bool call = j < n && formula[j] == '(';
            bool sheetName = j < n && formula[j] == '!';
            out += (call || sheetName) ? token : ShiftToken(token, rows, cols);
            i = j;
        } else {
            out += ch;
            ++i;
        }
    }
    return out;
}

} // namespace lumora
