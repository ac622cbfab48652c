#include "sheet/CellRef.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

TEST(CellRef, NamesAndBackAgain) {
    const std::tuple<int, int, const char*> cases[] = {
        {1, 1, "A1"},    {3, 2, "B3"},     {10, 26, "Z10"},
        {1, 27, "AA1"},  {7, 52, "AZ7"},   {1, 53, "BA1"},
        {2, 702, "ZZ2"}, {1, 703, "AAA1"}, {1048576, 16384, "XFD1048576"}};
    int r = 0, c = 0;
    for (const auto& [row, col, name] : cases) {
        EXPECT_EQ(CellName(row, col), name);
        EXPECT_TRUE(ParseCellRef(name, r, c) && r == row && c == col) << name;
    }
    for (int col = 1; col <= kMaxCols; col += 37)
        EXPECT_TRUE(ParseCellRef(CellName(5, col), r, c) && r == 5 && c == col) << col;
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
