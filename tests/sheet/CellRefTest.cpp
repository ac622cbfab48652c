#include "sheet/CellRef.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

TEST(CellRef, NamesAndBackAgain) {
    struct Case {
        int row, col;
        const char* name;
    };
    const Case cases[] = {{1, 1, "A1"},    {3, 2, "B3"},     {10, 26, "Z10"},
                          {1, 27, "AA1"},  {7, 52, "AZ7"},   {1, 53, "BA1"},
                          {2, 702, "ZZ2"}, {1, 703, "AAA1"}, {1048576, 16384, "XFD1048576"}};
    for (const auto& c : cases) {
        EXPECT_EQ(CellName(c.row, c.col), c.name);
        int r = 0, col = 0;
        ASSERT_TRUE(ParseCellRef(c.name, r, col)) << c.name;
        EXPECT_EQ(r, c.row) << c.name;
        EXPECT_EQ(col, c.col) << c.name;
    }
    for (int col = 1; col <= kMaxCols; col += 37) {
        int r, c;
        ASSERT_TRUE(ParseCellRef(CellName(5, col), r, c));
        EXPECT_EQ(c, col);
    }
}

TEST(CellRef, RefusesWhatIsNoCell) {
    for (const char* bad :
         {"", "A", "1", "A0", "A01", "ZZZZ1", "XFE1", "A1048577", "a1", "$A$1", "A1:B2", "A-1",
          "A1 ", " A1", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAA1", "A99999999999999999999"}) {
        int r = -7, c = -7;
        EXPECT_FALSE(ParseCellRef(bad, r, c)) << '"' << bad << '"';
    }
}

} // namespace
} // namespace lumora
