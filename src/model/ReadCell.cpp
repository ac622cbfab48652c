#include "model/ReadCell.h"

#include "base/NumText.h"
#include "base/RuntimeError.h"
#include "model/State.h"
#include "sheet/Worksheet.h"

#include <type_traits>

namespace lumora {

std::string CellText(const CellValue& value) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, double>)
                return NumberToText(v);
            else if constexpr (std::is_same_v<T, std::string>)
                return v;
            else if constexpr (std::is_same_v<T, bool>)
                return v ? "True" : "False";
            else
                return "";
        },
        value);
}

std::string CellText(const Worksheet& sheet, int row, int col) {
    return CellText(sheet.Value(row, col));
}

std::string ReadCell(State& st, bool newRow, bool rewind) {
    if (rewind) st.CurRow = st.CurCol = 0;
    // The cursor is a 16-bit position: running past its range is an overflow, as it
    // always was, not a silent wrap to negative rows.
    if (newRow) {
        st.CurRow = CInt16(st.CurRow + 1.0);
        st.CurCol = 0;
    }
    st.CurCol = CInt16(st.CurCol + 1.0);
    if (!st.xlSheet) return "";
    try {
        return CellText(*st.xlSheet, st.CurRow, st.CurCol);
    } catch (...) {
        return "";
    }
}

} // namespace lumora
