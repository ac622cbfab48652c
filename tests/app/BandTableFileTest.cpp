// The band table built by BuildGaussians survives a real .xlsx file, in both abscissae.
#include "fit/BuildGaussians.h"

#include "FuzzyCompare.h"
#include "GaussFixture.h"
#include "WorkbookFiles.h"
#include "model/GaussBand.h"
#include "model/GaussTable.h"
#include "xlsx/GridWorkbook.h"

#include <gtest/gtest.h>

namespace lumora::test {
namespace {

TEST(BandTableFile, BandsRoundTripThroughASavedWorkbook) {
    for (bool wavenumber : {false, true}) {
        SCOPED_TRACE(wavenumber);
        TempDir dir;
        GaussSpectrum s{2, 61, wavenumber}; // 300 .. 600 nm, centre 450 nm
        State& st = s.st;
        GridWorkbook book(dir.Path("bands.xlsx"));
        st.xlSheet = book.AddSheet("Data");
        s.SetReference(
            {{1, s.X(15), 0.05, 100.0}, {1, s.X(45), 0.06, 60.0}, {2, s.X(30), 0.09, 20.0}});
        BuildGaussians(st, 20);
        ASSERT_EQ(st.ErrCode, 0);
        ASSERT_EQ(BandCount(st), 3);
        const Mat<double> built = st.GaussTab;
        // By hand: the first centre at row 15, 370 nm; the wavelength width 0.05 of 450 nm;
        // the height is the coefficient at the centre.
        Worksheet& sheet = *st.xlSheet;
        EXPECT_FUZZY(std::get<double>(sheet.Value(10, 8)), 370.0, 1e-12);
        if (!wavenumber) {
            EXPECT_FUZZY(std::get<double>(sheet.Value(10, 9)), 22.5, 1e-9);
        }
        EXPECT_FUZZY(std::get<double>(sheet.Value(11, 10)), 20.0, 1e-9);
        std::string error;
        ASSERT_TRUE(book.Save(error)) << error;

        auto loaded = GridWorkbook::Load(dir.Path("bands.xlsx"), error);
        ASSERT_TRUE(loaded) << error;
        st.xlSheet = loaded->ActiveSheet();
        st.GaussTab.Redim(3, 0);
        st.GaussArg = !wavenumber;
        st.FitMode = 0;
        LoadGaussians(st, -1);
        EXPECT_EQ(st.FitMode, 1);
        EXPECT_EQ(st.GaussArg, wavenumber);
        ASSERT_EQ(BandCount(st), 3);
        for (int g = 1; g <= 3; ++g)
            for (int i = 0; i <= 3; ++i) EXPECT_FUZZY(st.GaussTab(i, g), built(i, g), 1e-12);
        st.xlSheet = s.sheet;
    }
}

} // namespace
} // namespace lumora::test
