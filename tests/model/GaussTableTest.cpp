// The band table on the sheet (an in-memory GridSheet): loading and evaluating against
// the band formula, the tables that are refused with their message, the round trip
// through writing and loading, and the fixed marks (comments).

#include "model/GaussTable.h"
#include "FuzzyCompare.h"
#include "GaussTableRows.h"
#include "TestUi.h"
#include "model/EvaluateGaussians.h"
#include "model/GaussBand.h"
#include "model/ReadFixedMarks.h"
#include "xlsx/GridSheet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace lumora::test {
namespace {

using S = std::string;

class GaussTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        st.xlSheet = &sheet;
        st.nSp = 2;
        st.nWl = 3;
        st.MeanWl = 500.0;
        st.AbsM.Redim(1, 3);
        for (int w = 1; w <= 3; ++w) st.AbsM(0, w) = 300.0 + 100.0 * w;
        st.Eps.Redim(2, 3);
    }
    /// Header of kind "wL" or "wN", species 1 with two bands, species 2 with one.
    void Table(const char* kind) {
        sheet.ClearContents(1, 1, 20, 40);
        sheet.SetValue(9, 7, S(kind));
        for (int t = 0; t < 2; ++t)
            for (int i = 0; i < 3; ++i)
                sheet.SetValue(9, 8 + 3 * t + i, S(i == 0 ? "center" : i == 1 ? "width" : "max"));
        const double rows[2][7] = {{2, 450, 50, 10, 550, 60, 20}, {1, 500, 80, 30}};
        for (int i = 0; i < 2; ++i)
            for (int c = 0; c < (i == 0 ? 7 : 4); ++c) sheet.SetValue(10 + i, 7 + c, rows[i][c]);
    }
    double Num(int row, int col) const { return std::get<double>(sheet.Value(row, col)); }

    GridSheet sheet{nullptr, "Data"}; // outlives the state, whose watcher lets go of it
    State st;
    TestUi ui{st};
};

// Eps(k, w) = sum over the bands of species k of H exp(-4 ln 2 ((lambda - C) / W)^2) in
// wavelength; in wavenumber the scaled abscissa is M / lambda and the width spans the
// abscissae of C -+ W/2.
TEST_F(GaussTableTest, LoadsAndEvaluatesAgainstTheBandFormula) {
    auto band = [](double x, double c, double h, double height) {
        return height * std::exp(-4.0 * std::log(2.0) * std::pow((x - c) / h, 2));
    };
    for (const char* kind : {"wL", "wN"}) {
        SCOPED_TRACE(kind);
        const bool wn = S(kind) == "wN";
        Table(kind);
        LoadGaussians(st, -1);
        ASSERT_EQ(BandCount(st), 3);
        EXPECT_EQ(std::tuple(st.FitMode, st.GaussArg), std::tuple(int16_t(1), wn));
        for (int w = 1; w <= 3; ++w) {
            const double l = st.AbsM(0, w);
            auto x = [&](double lambda) { return wn ? 500.0 / lambda : lambda / 500.0; };
            auto h = [&](double c, double width) {
                return std::fabs(x(c + width / 2) - x(c - width / 2));
            };
            EXPECT_FUZZY(st.Eps(1, w),
                         band(x(l), x(450), h(450, 50), 10) + band(x(l), x(550), h(550, 60), 20),
                         1e-12);
            EXPECT_FUZZY(st.Eps(2, w), band(x(l), x(500), h(500, 80), 30), 1e-12);
        }
    }
}

TEST_F(GaussTableTest, RefusedTables) {
    const std::string errors = "Gaussians not loaded due to errors";
    struct Case {
        const char* name;
        int row, col;
        CellValue value;
        int16_t strict;
        std::string message; ///< "" when nothing is shown
        bool loads;
    } cases[] = {
        {"Valid", 1, 1, CellValue{}, -1, "", true},
        {"NineBands", 11, 7, 9.0, -1, errors, false},
        {"NineBandsQuiet", 11, 7, 9.0, 0, "", false},
        {"NoCount", 10, 7, CellValue{}, -1, errors, false},
        {"ZeroHeight", 11, 10, 0.0, -1, errors, false},
        {"TextWidth", 10, 12, S("wide"), -1, errors, false},
        {"NoWidthHeader", 9, 9, S("w"), -1, "Gaussians not found", false},
        {"NoWidthHeaderQuiet", 9, 9, S("w"), 0, "", true},
        {"NoKind", 9, 7, S("wl"), -1, "", false},
        // In wavenumber a width of twice the centre reaches wavelength 0.
        {"WavenumberTooWide", 11, 9, 1000.0, -1, errors, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Table(std::string(c.name).starts_with("Wavenumber") ? "wN" : "wL");
        sheet.SetValue(c.row, c.col, c.value);
        ui.messages.clear();
        st.FitMode = 0;
        LoadGaussians(st, c.strict);
        EXPECT_EQ(BandCount(st), c.loads ? 3 : 0);
        EXPECT_EQ(st.FitMode, c.loads ? 1 : 0);
        ASSERT_EQ(ui.messages.size(), c.message.empty() ? 0u : 1u);
        if (!c.message.empty()) {
            EXPECT_EQ(ui.messages[0].text, c.message);
            EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
        }
    }
    EXPECT_THROW(SheetToTable({500, 1000, 1}, 500, true), RuntimeError);
    EXPECT_THROW(SheetToTable({500, 10, 0}, 500, false), RuntimeError);
}

// A rewrite clears (9, 7)..(9 + nSp, 37) and nothing else; a write of the values only
// leaves the counts and the header alone.
TEST_F(GaussTableTest, WriteThenLoadGivesTheSameBands) {
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<double> centre(0.8, 1.2), width(0.02, 0.3), logh(0.0, 8.0);
    for (bool wavenumber : {false, true}) {
        SCOPED_TRACE(wavenumber);
        sheet.ClearContents(1, 1, 20, 40);
        for (const auto& [row, col] : {std::pair{10, 37}, {10, 38}, {10, 6}, {12, 8}})
            sheet.SetValue(row, col, S("user"));
        std::vector<BandRow> rows;
        for (int g = 1; g <= 5; ++g)
            rows.push_back({g <= 3 ? 1.0 : 2.0, centre(rng), width(rng), logh(rng)});
        FillGaussTab(st, rows);
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

        sheet.SetValue(10, 7, S("count kept"));
        st.GaussTab(1, 1) = 1.2;
        WriteGaussianTable(st, 0);
        EXPECT_EQ(sheet.Value(10, 7), CellValue{S("count kept")});
        EXPECT_FUZZY(Num(10, 8), wavenumber ? 500.0 / 1.2 : 600.0, 1e-12);
        EXPECT_TRUE(sheet.Events()); // back on after the program's writes
    }
}

// A table that leaves a species without bands, or bands that cannot be evaluated: the
// message, and Eps as it was.
TEST_F(GaussTableTest, TablesThatCannotBeEvaluated) {
    const std::vector<BandRow> cases[] = {
        {{1, 1.0, 0.3, 0.0}, {3, 1.0, 0.3, 0.0}}, // species 2 without band
        {{2, 1.0, 0.3, 0.0}, {1, 1.0, 0.3, 0.0}}, // the block of species 2 first
        {{1, 1.0, 0.0, 0.0}, {2, 1.0, 0.3, 0.0}}, // zero width
        {{1, 1.0, 0.3, 1e3}, {2, 1.0, 0.3, 0.0}}, // overflow
    };
    for (const auto& bands : cases) {
        st.Eps.Fill(-7.0);
        ui.messages.clear();
        FillGaussTab(st, bands);
        EvaluateGaussians(st);
        EXPECT_EQ(st.ErrCode, -1);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, "Error while evaluating Gaussians. Check them");
        EXPECT_EQ(st.Eps(2, 1), -7.0);
    }
}

// Parameter a of the marks is the a-th band cell (centre, width, max) counted over the
// species rows, each row as long as its band count says.
TEST(ReadFixedMarks, EdgeCases) {
    State st;
    GridSheet sheet{nullptr, "Data"};
    st.xlSheet = &sheet;
    st.nSp = 2;
    FillGaussTab(st, {{1, 1, 1, 0}, {1, 1, 1, 0}, {2, 1, 1, 0}});
    // A comment on the third cell of species 2: parameter 3 x 2 + 3.
    sheet.SetValue(10, 7, 2.0);
    sheet.SetValue(11, 7, 1.0);
    sheet.SetComment(11, 10, "keep");
    ReadFixedMarks(st);
    ASSERT_EQ(st.GaussFixed.UBound(), 9);
    for (int a = 0; a <= 9; ++a) EXPECT_EQ(st.GaussFixed(a), a == 9 ? 1 : 0) << a;

    // An empty band count contributes no parameters: species 2's cells come first.
    FillGaussTab(st, {{1, 1, 1, 0}, {2, 1, 1, 0}});
    sheet.SetValue(10, 7, CellValue{});
    sheet.SetComment(11, 10, std::nullopt);
    sheet.SetComment(11, 8, "x");
    ReadFixedMarks(st);
    EXPECT_EQ(st.GaussFixed(1), 1);
    EXPECT_EQ(st.GaussFixed(2) + st.GaussFixed(3) + st.GaussFixed(4), 0);

    // Cells beyond 3 x nG are ignored, however large the count on the sheet.
    sheet.SetValue(10, 7, 40000.0);
    sheet.SetComment(10, 30, "beyond");
    ReadFixedMarks(st);
    EXPECT_EQ(st.GaussFixed.UBound(), 6);
    EXPECT_EQ(st.GaussFixed(1) + st.GaussFixed(2) + st.GaussFixed(6), 0);

    // A count given as text with a number in front, and a table without bands.
    sheet.SetValue(10, 7, S("1 band"));
    sheet.SetComment(10, 9, "w");
    ReadFixedMarks(st);
    EXPECT_EQ(st.GaussFixed(2), 1);
    st.GaussTab.Redim(3, 0);
    ReadFixedMarks(st);
    EXPECT_EQ(st.GaussFixed.UBound(), 0);
}

} // namespace
} // namespace lumora::test
