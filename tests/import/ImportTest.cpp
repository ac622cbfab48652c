// lumora-import: spectra tables in the dialects instruments write, their errors with line
// and column, the dilution of a titration against a hand calculation, and the workbook
// that a description and a table make (an existing one is kept unless forced).

#include "FuzzyCompare.h"
#include "import/ImportDataSet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace lumora {
namespace {

const std::string kExample = std::string(LUMORA_EXAMPLES_DIR) + "/host-guest-titration/";

// Every dialect gives the same table: 400 and 401 nm, A = (0.1, 0.2) and (0.3, 0.4).
TEST(AbsorbanceCsv, DialectsGiveTheSameTable) {
    const std::pair<const char*, const char*> cases[] = {
        {"wl,A,B\n400,0.1,0.2\n401,0.3,0.4\n", "A B"},
        {"400;0,1;0,2\n401;0,3;+0.4\n", "S1 S2"}, // decimal comma
        {"\xEF\xBB\xBF\"Wavelength\"\t\"A, 1\"\t\r\n401\t0,3\t0.4\r\n400\t0.1\t0,2\r\n\r\n",
         "A, 1 S2"}, // reversed, CRLF
        {"wl;A;B\n\n 400 ; 1e-1 ; 0,2 \n401;0.3;4E-1\n", "A B"},
    };
    for (const auto& [text, names] : cases) {
        AbsorbanceTable t;
        std::string error;
        ASSERT_TRUE(ReadAbsorbanceCsv(text, t, error)) << text << ": " << error;
        std::string got;
        for (const auto& n : t.names) got += (got.empty() ? "" : " ") + n;
        EXPECT_EQ(got, names);
        EXPECT_EQ(t.wavelengths, (std::vector<double>{400, 401})) << text;
        EXPECT_EQ(t.absorbances, (std::vector<std::vector<double>>{{0.1, 0.2}, {0.3, 0.4}}))
            << text;
    }
    AbsorbanceTable t;
    std::string error;
    ASSERT_TRUE(ReadAbsorbanceCsv("400,,0.2\n", t, error)) << error;
    EXPECT_TRUE(std::isnan(t.absorbances[0][0]) && t.absorbances[0][1] == 0.2);
}

TEST(AbsorbanceCsv, BadTablesNameLineAndColumn) {
    const std::pair<const char*, const char*> cases[] = {
        {"wl,A,B\n400,0.1,0.2\n401,0.3,x1\n", "line 3, column 3: 'x1' is not a number"},
        {"400;0,1\n401;0,2;0,3\n", "line 2: 3 columns where the first line has 2"},
        {"400,1\n401,1\n400.5,1\n", "line 3, column 1: the wavelengths must all grow or all fall"},
        {"400,1\n400,1\n", "line 2, column 1: wavelength repeated"},
        {"400,1\n-5,1\n", "line 2, column 1: the wavelength '-5' is no positive number"},
        {"400,1.2.3\n", "line 1, column 2: '1.2.3' is not a number"},
        {"wl,A\n", "line 1: no spectra"},
        {"400\n", "line 1: a wavelength and at least one absorbance needed"},
    };
    for (const auto& [text, says] : cases) {
        AbsorbanceTable t;
        std::string error;
        EXPECT_FALSE(ReadAbsorbanceCsv(text, t, error)) << text;
        EXPECT_NE(error.find(says), std::string::npos) << text << ": " << error;
        EXPECT_TRUE(t.wavelengths.empty());
    }
}

// V0 = 2.0 of 1e-3 host; the titrant holds 0.01 guest and the host at the cell's
// concentration, so the host stays at 1e-3 while the guest grows: at 0.5 added,
// guest = 0.01 x 0.5 / 2.5 = 2e-3 and the salt of the cell 0.1 x 2 / 2.5 = 0.08.
TEST(Titration, DilutionAgainstAHandCalculation) {
    Titration t{2.0, {{"Host", 1e-3}, {"NaCl", 0.1}}, {{"Guest", 0.01}, {"Host", 1e-3}}, {0, 0.5}};
    const auto c = TitrationCompositions(t);
    ASSERT_EQ(c.size(), 2u);
    const Concentrations first{{"Host", 1e-3}, {"NaCl", 0.1}, {"Guest", 0}};
    EXPECT_EQ(c[0], first);
    ASSERT_EQ(c[1].size(), 3u);
    for (const auto& [name, expected] :
         Concentrations{{"Host", 1e-3}, {"NaCl", 0.08}, {"Guest", 2e-3}}) {
        const auto it =
            std::find_if(c[1].begin(), c[1].end(), [&](const auto& p) { return p.first == name; });
        EXPECT_FUZZY(it->second, expected, 1e-14) << name;
    }
}

std::string Write(const std::string& name, const std::string& text) {
    const std::string path = std::string(LUMORA_TEST_BUILD_DIR) + "/" + name;
    std::ofstream(path) << text;
    return path;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The example makes a sheet with the titration's compositions; a description that
// does not fit the table, or names an unknown key, is refused with its file and line;
// an existing workbook stays as it was unless forced.
TEST(ImportDataSet, ExampleSheetRefusalsAndExistingFiles) {
    AbsorbanceTable spectra;
    ImportDescription d;
    DataSetLayout sheet;
    std::string error;
    ASSERT_TRUE(LoadAbsorbanceCsv(kExample + "titration.csv", spectra, error)) << error;
    ASSERT_TRUE(LoadImportDescription(kExample + "titration.toml", d, error)) << error;
    ASSERT_TRUE(ImportLayout(spectra, d, sheet, error)) << error;
    EXPECT_TRUE(sheet.wlStart == 250 && sheet.wlStop == 550 && sheet.solutions.size() == 17);
    EXPECT_EQ(sheet.solutions[16].name, "T17");
    EXPECT_FUZZY(sheet.solutions[16].composition[0].second, 1e-4 * 2000 / 2400, 1e-14);
    EXPECT_TRUE(sheet.species[0].result == 0.0 && !sheet.species[1].result);

    d.titration->added.pop_back();
    EXPECT_FALSE(ImportLayout(spectra, d, sheet, error));
    EXPECT_EQ(error, "the description gives 16 added volumes for 17 spectra");
    const std::string bad = Write("bad.toml", "database = \"d\"\nsystem = \"s\"\nT = 25\nP = 1\n"
                                              "[[species]]\nname = \"X\"\nfixd = true\n");
    EXPECT_FALSE(LoadImportDescription(bad, d, error));
    EXPECT_EQ(error, bad + ", line 7: unknown key 'fixd' in a species");

    const std::string out = std::string(LUMORA_TEST_BUILD_DIR) + "/imported.xlsx";
    Write("imported.xlsx", "precious");
    EXPECT_FALSE(
        ImportDataSet(kExample + "titration.csv", kExample + "titration.toml", out, false, error));
    EXPECT_NE(error.find("exists already"), std::string::npos) << error;
    EXPECT_EQ(ReadAll(out), "precious");
    EXPECT_FALSE(ImportDataSet(kExample + "titration.csv", bad, out, true, error));
    EXPECT_EQ(ReadAll(out), "precious");
    ASSERT_TRUE(
        ImportDataSet(kExample + "titration.csv", kExample + "titration.toml", out, true, error))
        << error;
    EXPECT_EQ(ReadAll(out).substr(0, 2), "PK");
}

} // namespace
} // namespace lumora
