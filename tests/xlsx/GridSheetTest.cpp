// The in-memory sheet refuses what no spreadsheet cell can hold, and writes nothing then.

#include "xlsx/GridSheet.h"
#include "sheet/CellRef.h"
#include "xlsx/GridWorkbook.h"

#include "base/RuntimeError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace lumora {
namespace {

TEST(GridSheet, BadAccessRaisesTheSpreadsheetsError) {
    GridWorkbook book{"/nonexistent/book.xlsx"};
    GridSheet* sheet = book.AddSheet("Data");
    const std::pair<int, int> outside[] = {
        {0, 1}, {1, 0}, {-1, 5}, {kMaxRows + 1, 1}, {1, kMaxCols + 1}};
    for (auto [r, c] : outside) {
        EXPECT_THROW(sheet->Value(r, c), RuntimeError) << r << "," << c;
        EXPECT_THROW(sheet->SetValue(r, c, 1.0), RuntimeError) << r << "," << c;
        EXPECT_THROW(sheet->Comment(r, c), RuntimeError);
        EXPECT_THROW(sheet->ClearContents(1, 1, r, c), RuntimeError);
    }
    EXPECT_TRUE(IsEmpty(sheet->Value(kMaxRows, kMaxCols)));
    // No NaN or infinity ever reaches a cell.
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()}) {
        try {
            sheet->SetValue(1, 1, bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Description(), "Overflow");
        }
    }
    EXPECT_THROW(sheet->SetValue(1, 1, std::string(40000, 'x')), RuntimeError);
    EXPECT_TRUE(IsEmpty(sheet->Value(1, 1)));
    // An empty text empties the cell.
    sheet->SetValue(2, 2, std::string("x"));
    sheet->SetValue(2, 2, std::string());
    EXPECT_EQ(sheet->CellCount(), 0u);
}

} // namespace
} // namespace lumora
