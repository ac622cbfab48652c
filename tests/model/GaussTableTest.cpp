// The band table on an in-memory sheet (the band formula: the recovery tests of fit).

#include "model/GaussTable.h"
#include "FuzzyCompare.h"
#include "GaussTableRows.h"
#include "TestUi.h"
#include "model/EvaluateGaussians.h"
#include "model/GaussBand.h"
#include "model/ReadFixedMarks.h"
#include "xlsx/GridSheet.h"

#include <gtest/gtest.h>

namespace lumora::test {
namespace {

using S = std::string;

class GaussTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::tie(st.xlSheet, st.nSp, st.nWl, st.MeanWl) = std::tuple(&sheet, 2, 3, 500.0);
        st.AbsM.Redim(1, 3);
        for (int w = 1; w <= 3; ++w) st.AbsM(0, w) = 300.0 + 100.0 * w;
        st.Eps.Redim(2, 3);
    }
    /// Header of kind "wL" or "wN", species 1 with two bands, species 2 with one.
    void Table(const char* kind) {
        sheet.ClearContents(1, 1, 20, 40);
        const std::vector<CellValue> rows[] = {
            {S(kind), S("center"), S("width"), S("max"), S("center"), S("width"), S("max")},
            {2.0, 450.0, 50.0, 10.0, 550.0, 60.0, 20.0},
            {1.0, 500.0, 80.0, 30.0}};
        for (int r = 0; r < 3; ++r)
            for (size_t c = 0; c < rows[r].size(); ++c)
                sheet.SetValue(9 + r, 7 + int(c), rows[r][c]);
    }
    GridSheet sheet{nullptr, "Data"}; // outlives the state, whose watcher lets go of it
    State st;
    TestUi ui{st};
};

// A valid table loads; refused tables show their message (or none when quiet).
TEST_F(GaussTableTest, LoadsOrRefusesWithTheMessage) {
    const std::string errors = "Gaussians not loaded due to errors";
    const struct {
        const char* name;
        int row, col;
        CellValue value;
        int16_t strict;
        std::string message; ///< "" when nothing is shown
        bool loads;
    } cases[] = {
        {"wL", 1, 1, CellValue{}, -1, "", true},
        {"wN", 1, 1, CellValue{}, -1, "", true},
        {"NineBands", 11, 7, 9.0, -1, errors, false},
        {"ZeroHeight", 11, 10, 0.0, -1, errors, false},
        {"NoWidthHeader", 9, 9, S("w"), -1, "Gaussians not found", false},
        {"NoWidthHeaderQuiet", 9, 9, S("w"), 0, "", true},
        {"NoKind", 9, 7, S("wl"), -1, "", false},
        // In wavenumber a width of twice the centre reaches wavelength 0.
        {"wNTooWide", 11, 9, 1000.0, -1, errors, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool wn = S(c.name).starts_with("wN");
        Table(wn ? "wN" : "wL");
        sheet.SetValue(c.row, c.col, c.value);
        ui.messages.clear(), st.FitMode = 0;
        LoadGaussians(st, c.strict);
        EXPECT_EQ(std::pair(BandCount(st), int(st.FitMode)),
                  std::pair(c.loads ? 3 : 0, int(c.loads)));
        EXPECT_TRUE(!c.loads || st.GaussArg == wn);
        ExpectMessage(ui, c.message);
    }
}

// A rewrite clears (9, 7)..(9 + nSp, 37) only; a write of the values keeps the counts.
TEST_F(GaussTableTest, WriteThenLoadGivesTheSameBands) {
    for (bool wavenumber : {false, true}) {
        SCOPED_TRACE(wavenumber);
        sheet.ClearContents(1, 1, 20, 40);
        for (const auto& [r, c] : {std::pair{10, 37}, {10, 38}, {10, 6}, {12, 8}})
            sheet.SetValue(r, c, S("user"));
        FillGaussTab(st, {{1, 0.8137, 0.0213, 7.91},
                          {1, 1.0402, 0.2871, 0.337},
                          {1, 1.1986, 0.1452, 4.018},
                          {2, 0.9121, 0.0634, 2.6643},
                          {2, 1.0777, 0.2215, 5.5}});
        const Mat<double> written = st.GaussTab;
        st.GaussArg = wavenumber;
        WriteGaussianTable(st, -1);
        EXPECT_TRUE(IsEmpty(sheet.Value(10, 37)));
        for (const auto& [row, col] : {std::pair{10, 38}, {10, 6}, {12, 8}})
            EXPECT_EQ(sheet.Value(row, col), CellValue{S("user")}) << row << "," << col;
        st.GaussArg = !wavenumber;
        LoadGaussians(st, -1);
        EXPECT_EQ(st.GaussArg, wavenumber);
        ASSERT_EQ(BandCount(st), 5);
        for (int b = 1; b <= 5; ++b)
            for (int p = 0; p <= 3; ++p) EXPECT_FUZZY(st.GaussTab(p, b), written(p, b), 1e-12);

        sheet.SetValue(10, 7, S("count kept")), st.GaussTab(1, 1) = 1.2;
        WriteGaussianTable(st, 0);
        EXPECT_EQ(sheet.Value(10, 7), CellValue{S("count kept")});
        EXPECT_FUZZY(std::get<double>(sheet.Value(10, 8)), wavenumber ? 500.0 / 1.2 : 600.0, 1e-12);
        EXPECT_TRUE(sheet.Events()); // back on after the program's writes
    }
}

// Species 2 without band, its block first, zero width, overflow: Eps stays as it was.
TEST_F(GaussTableTest, TablesThatCannotBeEvaluated) {
    const std::vector<BandRow> cases[] = {{{1, 1.0, 0.3, 0.0}, {3, 1.0, 0.3, 0.0}},
                                          {{2, 1.0, 0.3, 0.0}, {1, 1.0, 0.3, 0.0}},
                                          {{1, 1.0, 0.0, 0.0}, {2, 1.0, 0.3, 0.0}},
                                          {{1, 1.0, 0.3, 1e3}, {2, 1.0, 0.3, 0.0}}};
    for (const auto& bands : cases) {
        st.Eps.Fill(-7.0), ui.messages.clear();
        FillGaussTab(st, bands);
        EvaluateGaussians(st);
        EXPECT_EQ(std::pair(st.ErrCode, st.Eps(2, 1)), std::pair(int16_t(-1), -7.0));
        ExpectMessage(ui, "Error while evaluating Gaussians. Check them");
    }
}

// Parameter a of the marks is the a-th band cell (centre, width, max) counted over the
// species rows, each row as long as its band count says.
using ReadFixedMarks = GaussTableTest;
TEST_F(ReadFixedMarks, EdgeCases) {
    FillGaussTab(st, {{1, 1, 1, 0}, {1, 1, 1, 0}, {2, 1, 1, 0}});
    // A comment on the third cell of species 2: parameter 3 x 2 + 3.
    sheet.SetValue(10, 7, 2.0), sheet.SetValue(11, 7, 1.0);
    sheet.SetComment(11, 10, "keep");
    lumora::ReadFixedMarks(st);
    ASSERT_EQ(st.GaussFixed.UBound(), 9);
    for (int a = 0; a <= 9; ++a) EXPECT_EQ(st.GaussFixed(a), a == 9 ? 1 : 0) << a;

    // An empty band count contributes no parameters: species 2's cells come first.
    FillGaussTab(st, {{1, 1, 1, 0}, {2, 1, 1, 0}});
    sheet.SetValue(10, 7, CellValue{});
    sheet.SetComment(11, 10, std::nullopt), sheet.SetComment(11, 8, "x");
    lumora::ReadFixedMarks(st);
    EXPECT_EQ(st.GaussFixed(1), 1);
    EXPECT_EQ(st.GaussFixed(2) + st.GaussFixed(3) + st.GaussFixed(4), 0);

    // Cells beyond 3 x nG are ignored, however large the count on the sheet.
    sheet.SetValue(10, 7, 40000.0), sheet.SetComment(10, 30, "beyond");
    lumora::ReadFixedMarks(st);
    EXPECT_EQ(st.GaussFixed.UBound(), 6);
    EXPECT_EQ(st.GaussFixed(1) + st.GaussFixed(2) + st.GaussFixed(6), 0);

    // A count given as text with a number in front, and a table without bands.
    sheet.SetValue(10, 7, S("1 band")), sheet.SetComment(10, 9, "w");
    lumora::ReadFixedMarks(st);
    EXPECT_EQ(st.GaussFixed(2), 1);
    st.GaussTab.Redim(3, 0), lumora::ReadFixedMarks(st);
    EXPECT_EQ(st.GaussFixed.UBound(), 0);
}

} // namespace
} // namespace lumora::test
