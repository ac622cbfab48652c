#include "sheet/CellRef.h"

namespace lumora {

std::string ColumnName(int col) {
    std::string name;
    for (; col > 0; col = (col - 1) / 26) name.insert(name.begin(), char('A' + (col - 1) % 26));
    return name;
}

std::string CellName(int row, int col) {
    return ColumnName(col) + std::to_string(row);
}

bool ParseCellRef(std::string_view ref, int& row, int& col) {
    size_t i = 0;
    long c = 0;
    for (; i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z'; ++i) {
        c = c * 26 + (ref[i] - 'A' + 1);
        if (c > kMaxCols) return false;
    }
    if (i == 0 || i == ref.size() || ref[i] == '0') return false;
    long r = 0;
    for (; i < ref.size(); ++i) {
        if (ref[i] < '0' || ref[i] > '9') return false;
        r = r * 10 + (ref[i] - '0');
        if (r > kMaxRows) return false;
    }
    row = static_cast<int>(r);
    col = static_cast<int>(c);
    return ValidCell(row, col);
}

} // namespace lumora
