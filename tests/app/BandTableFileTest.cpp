// The band table built by BuildGaussians survives a save and a load of a real
// .xlsx package, in both abscissae.
#include "fit/BuildGaussians.h"

#include "FuzzyCompare.h"
#include "GaussFixture.h"
#include "model/GaussBand.h"
#include "model/GaussTable.h"
#include "xlsx/GridWorkbook.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace lumora::test {
namespace {

constexpr int kWl = 61; // 300..600 nm

class BuildTest : public ::testing::Test {
protected:
    GaussSpectrum s{2, kWl, false};
    State& st = s.st;
};

TEST_F(BuildTest, BandsRoundTripThroughASavedWorkbook) {
    const std::string path = std::string(LUMORA_TEST_BUILD_DIR) + "/built_bands.xlsx";
    for (bool wavenumber : {false, true}) {
        SCOPED_TRACE(wavenumber);
        std::filesystem::remove(path);
        GridWorkbook book(path);
        GridSheet* sheet = book.AddSheet("Data");
        st.xlSheet = sheet;
        st.GaussArg = wavenumber;
        s.SetReference(
            {{1, s.X(15), 0.05, 100.0}, {1, s.X(45), 0.06, 60.0}, {2, s.X(30), 0.09, 20.0}});
        BuildGaussians(st, 20);
        ASSERT_EQ(st.ErrCode, 0);
        ASSERT_EQ(BandCount(st), 3);
        const Mat<double> built = st.GaussTab;
        EXPECT_EQ(std::get<std::string>(sheet->Value(9, 7)), wavenumber ? "wN" : "wL");
        EXPECT_EQ(std::get<double>(sheet->Value(10, 7)), 2.0);
        EXPECT_EQ(std::get<double>(sheet->Value(11, 7)), 1.0);
        EXPECT_EQ(std::get<std::string>(sheet->Value(9, 11)), "center");
        // Height on the sheet is the coefficient at the centre.
        EXPECT_FUZZY(std::get<double>(sheet->Value(11, 10)), 20.0, 1e-9);
        if (!wavenumber) {
            // Wavelength bands: centre and width in nm, by hand.
            EXPECT_FUZZY(std::get<double>(sheet->Value(10, 8)), 370.0, 1e-12);
            EXPECT_FUZZY(std::get<double>(sheet->Value(10, 9)), 0.05 * 450.0, 1e-9);
        } else {
            EXPECT_FUZZY(std::get<double>(sheet->Value(10, 8)), 370.0, 1e-12);
        }
        std::string error;
        ASSERT_TRUE(book.Save(error)) << error;

        auto loaded = GridWorkbook::Load(path, error);
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
    std::filesystem::remove(path);
}

} // namespace
} // namespace lumora::test
