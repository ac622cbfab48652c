// The band table on the sheet: loading, writing, the round trip between them and
// the wavelength / wavenumber conversion.

#include "model/GaussTable.h"
#include "FuzzyCompare.h"
#include "ReaderDoubles.h"
#include "TestUi.h"
#include "model/GaussBand.h"

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
        st.AbsM(0, 1) = 400.0;
        st.AbsM(0, 2) = 500.0;
        st.AbsM(0, 3) = 600.0;
        st.Eps.Redim(2, 3);
    }
    void Header(const char* kind, int triples) {
        sheet.Put(9, 7, S(kind));
        for (int t = 0; t < triples; ++t) {
            sheet.Put(9, 8 + 3 * t, S("center"));
            sheet.Put(9, 9 + 3 * t, S("width"));
            sheet.Put(9, 10 + 3 * t, S("max"));
        }
    }
    void Species(int i, std::vector<double> bands) {
        sheet.Put(9 + i, 7, static_cast<double>(bands.size() / 3));
        for (size_t k = 0; k < bands.size(); ++k)
            sheet.Put(9 + i, 8 + static_cast<int>(k), bands[k]);
    }

    State st;
    TestUi ui{st};
    FakeSheet sheet;
};

TEST_F(GaussTableTest, LoadsWavelengthBands) {
    Header("wL", 2);
    Species(1, {450, 50, 10, 550, 60, 20});
    Species(2, {500, 80, 30});
    LoadGaussians(st, -1);
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_EQ(st.FitMode, 1);
    EXPECT_FALSE(st.GaussArg);
    ASSERT_EQ(BandCount(st), 3);
    EXPECT_EQ(st.GaussTab(0, 1), 1.0);
    EXPECT_EQ(st.GaussTab(0, 3), 2.0);
    EXPECT_FUZZY(st.GaussTab(1, 2), 1.1, 1e-12);
    EXPECT_FUZZY(st.GaussTab(2, 2), 0.12, 1e-12);
    EXPECT_FUZZY(st.GaussTab(3, 2), std::log(20.0), 1e-12);
    // The band evaluation ran: species 2 at its centre has its height.
    EXPECT_FUZZY(st.Eps(2, 2), 30.0, 1e-12);
    // Half maximum at C + W/2 in wavelength.
    EXPECT_FUZZY(GaussBand(st, 3, 540.0 / 500.0), 15.0, 1e-12);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(GaussTableTest, WavenumberBandsHaveHalfMaximumAtTheSheetWidth) {
    Header("wN", 1);
    Species(1, {450, 50, 10});
    Species(2, {500, 80, 30});
    LoadGaussians(st, -1);
    ASSERT_EQ(BandCount(st), 2);
    EXPECT_TRUE(st.GaussArg);
    // The width in wavenumber spans the abscissae of C - W/2 and C + W/2 in wavelength,
    // and the centre sits at the abscissa of C.
    const double x1 = GaussAbscissa(st, 425.0), x2 = GaussAbscissa(st, 475.0);
    EXPECT_FUZZY(st.GaussTab(2, 1), x1 - x2, 1e-12);
    EXPECT_FUZZY(st.GaussTab(1, 1), GaussAbscissa(st, 450.0), 1e-12);
    EXPECT_FUZZY(GaussBand(st, 1, GaussAbscissa(st, 450.0)), 10.0, 1e-12);
}

TEST_F(GaussTableTest, RefusedTables) {
    struct Case {
        const char* name;
        std::function<void(FakeSheet&)> edit;
        int16_t strict;
        const char* message; ///< nullptr: none
        bool loads;
    } cases[] = {
        {"Valid", [](FakeSheet&) {}, -1, nullptr, true},
        {"NineBands", [](FakeSheet& s) { s.Put(11, 7, 9.0); }, -1,
         "Gaussians not loaded due to errors", false},
        {"NineBandsQuiet", [](FakeSheet& s) { s.Put(11, 7, 9.0); }, 0, nullptr, false},
        {"NoCount", [](FakeSheet& s) { s.Put(10, 7, CellValue{}); }, -1,
         "Gaussians not loaded due to errors", false},
        {"ZeroHeight", [](FakeSheet& s) { s.Put(11, 10, 0.0); }, -1,
         "Gaussians not loaded due to errors", false},
        {"TextWidth", [](FakeSheet& s) { s.Put(10, 12, S("wide")); }, -1,
         "Gaussians not loaded due to errors", false},
        {"NoWidthHeader", [](FakeSheet& s) { s.Put(9, 9, S("w")); }, -1, "Gaussians not found",
         false},
        {"NoWidthHeaderQuiet", [](FakeSheet& s) { s.Put(9, 9, S("w")); }, 0, nullptr, true},
        {"NoKind", [](FakeSheet& s) { s.Put(9, 7, S("wl")); }, -1, nullptr, false},
        // In wavenumber a width of twice the centre reaches wavelength 0.
        {"WavenumberTooWide",
         [](FakeSheet& s) {
             s.Put(9, 7, S("wN"));
             s.Put(11, 9, 1000.0);
         },
         -1, "Gaussians not loaded due to errors", false},
        {"WavenumberWide", [](FakeSheet& s) { s.Put(9, 7, S("wN")); }, -1, nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sheet.cells.clear();
        ui.messages.clear();
        Header("wL", 2);
        Species(1, {450, 50, 10, 550, 60, 20});
        Species(2, {500, 80, 30});
        c.edit(sheet);
        st.FitMode = 0;
        LoadGaussians(st, c.strict);
        EXPECT_EQ(BandCount(st), c.loads ? 3 : 0);
        EXPECT_EQ(st.FitMode, c.loads ? 1 : 0);
        if (c.message) {
            ASSERT_EQ(ui.messages.size(), 1u);
            EXPECT_EQ(ui.messages[0].text, c.message);
            EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
        } else {
            EXPECT_TRUE(ui.messages.empty());
        }
    }
}

TEST_F(GaussTableTest, WriteThenLoadGivesTheSameBands) {
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<double> centre(0.8, 1.2), width(0.02, 0.3), logh(0.0, 8.0);
    for (bool wavenumber : {false, true}) {
        SCOPED_TRACE(wavenumber);
        sheet.cells.clear();
        st.GaussArg = wavenumber;
        const int per[] = {3, 2};
        st.GaussTab.Redim(3, 5);
        st.GaussTab(0, 0) = 5;
        int g = 0;
        for (int k = 1; k <= 2; ++k)
            for (int b = 0; b < per[k - 1]; ++b) {
                ++g;
                st.GaussTab(0, g) = k;
                st.GaussTab(1, g) = centre(rng);
                st.GaussTab(2, g) = width(rng);
                st.GaussTab(3, g) = logh(rng);
            }
        const Mat<double> written = st.GaussTab;
        WriteGaussianTable(st, -1);
        EXPECT_EQ(std::get<std::string>(sheet.At(9, 7)), wavenumber ? "wN" : "wL");
        EXPECT_EQ(std::get<double>(sheet.At(10, 7)), 3.0);
        EXPECT_EQ(std::get<double>(sheet.At(11, 7)), 2.0);
        EXPECT_EQ(std::get<std::string>(sheet.At(9, 14)), "center");
        EXPECT_EQ(std::get<std::string>(sheet.At(9, 16)), "max");
        EXPECT_TRUE(IsEmpty(sheet.At(9, 17)));
        EXPECT_TRUE(IsEmpty(sheet.At(11, 14)));

        st.GaussArg = !wavenumber;
        LoadGaussians(st, -1);
        EXPECT_EQ(st.GaussArg, wavenumber);
        ASSERT_EQ(BandCount(st), 5);
        for (int b = 1; b <= 5; ++b)
            for (int p = 0; p <= 3; ++p) EXPECT_FUZZY(st.GaussTab(p, b), written(p, b), 1e-12);
    }
}

TEST_F(GaussTableTest, HeaderClearsItsBlockOnly) {
    sheet.Put(10, 37, S("old"));
    sheet.Put(10, 38, S("user"));
    sheet.Put(10, 6, S("keep"));
    sheet.Put(12, 8, S("keep"));
    st.GaussTab.Redim(3, 2);
    st.GaussTab(0, 0) = 2;
    st.GaussTab(0, 1) = 1;
    st.GaussTab(0, 2) = 2;
    st.GaussTab(2, 1) = st.GaussTab(2, 2) = 0.1;
    st.GaussTab(1, 1) = st.GaussTab(1, 2) = 1.0;
    st.GaussArg = false;
    WriteGaussianTable(st, -1);
    EXPECT_TRUE(IsEmpty(sheet.At(10, 37)));
    EXPECT_EQ(std::get<std::string>(sheet.At(10, 38)), "user");
    EXPECT_EQ(std::get<std::string>(sheet.At(10, 6)), "keep");
    EXPECT_EQ(std::get<std::string>(sheet.At(12, 8)), "keep");
    ASSERT_EQ(sheet.fullClears.size(), 1u);
    EXPECT_EQ(sheet.fullClears[0], (std::pair<Cell, Cell>{{9, 7}, {11, 37}}));
    EXPECT_FUZZY(std::get<double>(sheet.At(11, 8)), 500.0, 1e-12);
    EXPECT_FUZZY(std::get<double>(sheet.At(11, 10)), 1.0, 1e-12);

    // Values only: counts and header untouched.
    sheet.Put(10, 7, S("count kept"));
    st.GaussTab(1, 1) = 1.2;
    WriteGaussianTable(st, 0);
    EXPECT_EQ(std::get<std::string>(sheet.At(10, 7)), "count kept");
    EXPECT_FUZZY(std::get<double>(sheet.At(10, 8)), 600.0, 1e-12);
    EXPECT_EQ(sheet.fullClears.size(), 1u);
    EXPECT_TRUE(sheet.Events()); // switched back on after the program's own writes

    // No bands: nothing written.
    st.GaussTab.Redim(3, 0);
    const size_t writes = sheet.writes.size();
    WriteGaussianTable(st, -1);
    EXPECT_EQ(sheet.writes.size(), writes);
}

TEST_F(GaussTableTest, SetAbscissaKeepsTheSheetValues) {
    Header("wL", 1);
    Species(1, {450, 50, 10});
    Species(2, {500, 80, 30});
    LoadGaussians(st, 0);
    ASSERT_EQ(BandCount(st), 2);
    const double wl = st.Eps(1, 1);
    SetAbscissa(st, -1);
    EXPECT_TRUE(st.GaussArg);
    EXPECT_EQ(std::get<std::string>(sheet.At(9, 7)), "wN");
    EXPECT_EQ(std::get<double>(sheet.At(10, 8)), 450.0);
    ASSERT_EQ(BandCount(st), 2);
    EXPECT_NE(st.Eps(1, 1), wl); // the same bands, read as wavenumber bands
    EXPECT_FUZZY(st.GaussTab(1, 1), 500.0 / 450.0, 1e-12);

    st.FitMode = 0; // only in Gaussian mode
    SetAbscissa(st, 0);
    EXPECT_TRUE(st.GaussArg);
}

TEST(GaussTableConversion, WidthsOutsideTheWavenumberRangeAreRefused) {
    EXPECT_THROW(SheetToTable({500, 1000, 1}, 500, true), RuntimeError);
    EXPECT_THROW(SheetToTable({500, 10, 0}, 500, false), RuntimeError);
    const TableBand t = SheetToTable({500, 100, 2}, 500, true);
    const SheetBand b = TableToSheet(t, 500, true);
    EXPECT_FUZZY(b.center, 500, 1e-12);
    EXPECT_FUZZY(b.width, 100, 1e-12);
    EXPECT_FUZZY(b.height, 2, 1e-12);
}

} // namespace
} // namespace lumora::test
