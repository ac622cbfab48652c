// The data-set reader on the program's own host: workbooks saved as .xlsx files and
// opened by the embedded host. The engine is the in-memory doubles, so that every data
// error can be produced and the start values are known.

#include "dataset/ReadDataSet.h"
#include "FuzzyCompare.h"
#include "TestUi.h"
#include "ValidDataSet.h"
#include "engine/EngineFactory.h"

#include <cmath>
#include <set>

namespace lumora::test {
namespace {

using Edit = std::function<void(GridSheet&)>;
using ReadDataSetTest = ReaderFixture;

TEST_F(ReadDataSetTest, ValidDataSetReadsCompletely) {
    Read();
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(std::tuple(st.ErrMsg, st.Title, st.SrcFile), // the title from B1, A1 empty
              std::tuple("", "Cobalt chloride", "set.xlsx"));
    EXPECT_TRUE(host->WorkbookCount() == 1 && host->Visible());
    // A relative database path is found beside the workbook; the mode switch is the program's.
    EXPECT_EQ(std::pair(solverD->database, solverD->options),
              std::pair(dir.Path("thermo.toml"), S("/x/mode=1")));

    // Conditions (P = 0 at 25 C: the saturation pressure, raised to 1 bar), window, system.
    ASSERT_EQ(std::tuple(st.nSp, st.nSol, st.nComp, st.nEl), std::tuple(2, 3, 3, 5));
    EXPECT_EQ(std::tuple(st.TC, st.TK, st.PBar, st.Dens), std::tuple(25.0f, 298.15f, 1.0f, 0.997f));
    EXPECT_EQ(std::tuple(st.WlStart, st.WlStop, st.AqFirst, st.AqLast),
              std::tuple(400.0f, 600.0f, int16_t(2), int16_t(10)));

    // An HKF species' start value fills the empty "Initial" cell; a "Result" holds a
    // species fixed; the " ±" value scales by sqrt(nFree x chi2).
    EXPECT_EQ(std::tuple(st.SpName(2), st.SpIdx(1), st.SpIdx(2)), std::tuple("CoCl2", 8, 9));
    EXPECT_EQ(std::tuple(st.G0Init(1), st.G0Res(1), st.G0(1)),
              std::tuple(-162.5f, -162.5f, -162.5)); // -(100 + code 500 / 8)
    EXPECT_EQ(std::tuple(st.G0Init(2), st.G0Res(2)), std::tuple(-300.5f, -301.0f));
    EXPECT_EQ(std::tuple(st.SpFree(1), st.SpFree(2), st.nFree, st.GScale(2)),
              std::tuple(kTrue, kFalse, 1, 1.0f));
    EXPECT_FUZZY(st.GScale(1), 3.92 / std::sqrt(3.841), 1e-6);

    // Composition: element order H, O, Na, Cl, Co; the corrected run holds the rows
    // marked "*" and "Corrected" only; weights relative to their mean.
    const double na[] = {0.1, 0.2, 0.3}, co[] = {0.01, 0.01, 0.02}, h[] = {0.001, 0.002, 0.003};
    const float dens[] = {1.01f, 1.02f, 1.03f};
    for (int j = 1; j <= 3; ++j) {
        SCOPED_TRACE(j);
        const double x = na[j - 1], y = co[j - 1], z = h[j - 1];
        const double bulk[] = {55.50843, z, 0, x, x + 2 * y + z, y},
                     corr[] = {55.50843, 0, 0, 0, 2 * y + z, 0};
        for (int m = 0; m <= 5; ++m) EXPECT_FUZZY(st.Bulk(m, j), bulk[m], 1e-12) << m;
        for (int m : {0, 3, 4}) EXPECT_FUZZY(st.BulkCorr(m, j), corr[m], 1e-12) << m;
        EXPECT_EQ(std::tuple(st.SolDens(j), st.SolWeight(j)), std::tuple(dens[j - 1], 0.5f * j));
    }

    // Spectra: 380 and 700 lie outside [400, 600]; empty cells and text are missing.
    ASSERT_EQ(std::tuple(st.SolName(3), st.nWl), std::tuple("s3", 3));
    EXPECT_EQ(std::tuple(st.RowWave, st.RowWlFirst, st.RowWlLast, st.RowWlSkip),
              std::tuple(20, 22, 24, 25));
    EXPECT_EQ(std::tuple(st.WlMin, st.WlMax, st.MeanWl), std::tuple(122.0, 700.0, 500.0));
    EXPECT_EQ(std::tuple(st.AbsM(0, 3), st.AbsM(1, 1), st.AbsM(3, 1), st.AbsM(2, 2), st.AbsM(3, 3)),
              std::tuple(600.0, 0.1, 1e35, 1e35, 0.05));

    // The initial evaluation: one probe, its root shown.
    EXPECT_EQ(std::tuple(goalCalls, goalProbe, st.RelTol, st.ReadSerial),
              std::tuple(1, -1, 1e-8, 1));
    EXPECT_FUZZY(st.RmsErr, 0.02, 1e-12);
    EXPECT_EQ(ui.statuses.back(), "Initial data set.    Error: 0.020000");
    EXPECT_FALSE(st.xlsWatch->Changed);

    // Only the start value, " ±", the mean error and the cell beside it are written.
    std::set<std::pair<int, int>> edited;
    for (const auto& [key, edit] : Grid().Edits())
        edited.insert({GridSheet::RowOf(key), GridSheet::ColOf(key)});
    EXPECT_EQ(edited, (std::set<std::pair<int, int>>{{10, 3}, {10, 5}, {12, 3}, {12, 4}}));
    EXPECT_EQ(Grid().Value(10, 3), CellValue{-162.5});
    EXPECT_EQ(Grid().Value(12, 3), CellValue{st.RmsErr});
    EXPECT_EQ(Grid().Value(12, 5), CellValue{S("tag")}); // the normal mode keeps the tag
}

struct Variant {
    const char* name;
    Edit edit;
    int16_t code;
    std::string message;                              ///< ErrMsg as the reader leaves it
    std::function<void(ReadDataSetTest&)> spoil = {}; ///< of the engine, host or goal
    std::function<void(ReadDataSetTest&)> check = {};
    std::string file = "set.xlsx";
};

Edit Set(int row, int col, CellValue v) {
    return [=](GridSheet& s) { s.SetValue(row, col, v); };
}
/// Row row from column 1 (an empty text is an empty cell).
Edit SetRow(int row, std::vector<CellValue> v) {
    return [=](GridSheet& s) {
        s.ClearContents(row, 1, row, 40);
        for (size_t i = 0; i < v.size(); ++i) s.SetValue(row, static_cast<int>(i) + 1, v[i]);
    };
}
const Edit kValid = [](GridSheet&) {};
const auto kNoLimits = [](auto& t) { t.st.NoLimits = true; };
const auto kRealWater = [](auto& t) { t.st.props = CreateProps(); }; // and no species
Edit SetTP(double tC, double bar) {
    return [=](GridSheet& s) { s.SetValue(5, 2, tC), s.SetValue(6, 2, bar); };
}
const std::string kNoSpecies = "Species not found in the database (CoCl+, row=10, col=2)";

struct ReadDataSetVariant : ReadDataSetTest, ::testing::WithParamInterface<Variant> {};

TEST_P(ReadDataSetVariant, CodeMessageAndPosition) {
    const Variant& v = GetParam();
    Save("set.xlsx", v.edit);
    if (v.spoil) v.spoil(*this);
    Read(v.file);
    EXPECT_EQ(st.ErrCode, v.code);
    if (v.message.ends_with("...")) // the rest is the host's reason
        EXPECT_EQ(st.ErrMsg.substr(0, v.message.size() - 3),
                  v.message.substr(0, v.message.size() - 3));
    else
        EXPECT_EQ(st.ErrMsg, v.message);
    if (v.code != 0) {
        EXPECT_TRUE(st.xlsWatch->Changed); // every command re-reads first
        EXPECT_TRUE(ui.statuses.empty() || ui.statuses.back().empty()) << ui.statuses.back();
        EXPECT_EQ(st.RelTol, 1e-8);
    }
    if (v.check) v.check(*this);
}

const Variant kVariants[] = {
    {"NoHost", kValid, -3, "", [](auto& t) { t.running = t.canStart = false; }},
    {"DialogCancelled", kValid, -1, "", [](auto& t) { t.running = false; },
     [](auto& t) { EXPECT_EQ(t.ui.dialogFilter, "Lumora source files|*.xlsx"); }, ""},
    {"RefreshOfAnUnreadableFile", kValid, 2, "Could not open the file (...",
     [](auto& t) { t.Read(), WriteBytes(t.dir.Path("set.xlsx"), "no workbook"); }},
    // An Esc at the very end of a refresh has nothing left to interrupt.
    {"EscAtTheEndOfARefresh", kValid, 0, "",
     [](auto& t) {
         t.Read(), t.ui.yields = 0, t.Read();
         t.ui.interruptAtYield = t.ui.yields, t.ui.yields = 0;
     }},
    {"KeywordCase", Set(2, 1, S("database:")), 4, "Incorrect keyword (row=2, col=1)"},
    {"NoDatabase", Set(2, 2, S("")), 5, "No mandatory data (row=2, col=2)"},
    {"HeaderResult", Set(9, 4, S("result")), 4, "Incorrect keyword (row=9, col=5)"},
    // The engine's reason goes with the failure.
    {"DatabaseRefused", kValid, -5, "Cannot read database",
     [](auto& t) { t.solverD->refuseDatabase = true; }},
    {"OptionsRefused", kValid, -7, "Unknown switch",
     [](auto& t) { t.solverD->refuseOptions = true; }},
    // The optimizer's switch is the program's own: the engine never sees it.
    {"MethodSwitch",
     Set(4, 2, S("/mode=2 /Method=LM /x /Intervals=Profile")),
     0,
     "",
     {},
     [](auto& t) {
         EXPECT_EQ(t.solverD->options, "/x/mode=1");
         EXPECT_EQ(t.st.Method, FitMethod::LevenbergMarquardt);
         EXPECT_EQ(t.st.Intervals, IntervalMethod::Profile);
     }},
    {"UnknownMethod", Set(4, 2, S("/x /method=newton")), -7,
     "unknown method \"newton\"; /method=lm or /method=descent"},
    {"UnknownIntervals", Set(4, 2, S("/intervals=bootstrap")), -7,
     "unknown interval method \"bootstrap\"; /intervals=hessian or /intervals=profile"},
    {"SystemRefused", kValid, -6, "/db/co.toml: Cannot read system",
     [](auto& t) { t.solverD->refuseSystem = true; }},
    {"NoAqueousPhase", kValid, 6, "No aqueous solution in System file",
     [](auto& t) { t.sysD->record.nAq = 0; }},
    {"PureMineralComponents", kValid, 8, "System file contains p.m.c.",
     [](auto& t) { t.sysD->record.nPmc = 1; }},
    {"GoalFails", kValid, 9, "Could not calculate initial error", [](auto& t) { t.goalCode = -1; },
     [](auto& t) { EXPECT_TRUE(IsEmpty(t.Grid().Value(12, 3))); }}, // not written
    // Ranges, with and without the switch that lifts them (kNoLimits)
    {"T1000_5", Set(5, 2, 1000.5), 7, "T/P/D out of range"},
    {"TNegativeNoLimits", Set(5, 2, -1.0), 0, "", kNoLimits},
    {"PBelowOne", Set(6, 2, 0.5), 7, "T/P/D out of range", kNoLimits},
    // No water properties (steam; 0 bar above 374 C) even without limits; the ends of the
    // range in single precision (1000 C is 1273.1500244 K) get as far as the species.
    {"Steam", SetTP(300, 10), 7, "T/P/D out of range", kRealWater},
    {"NoSaturationPressure", SetTP(400, 0), 7, "T/P/D out of range",
     [](auto& t) { kRealWater(t), kNoLimits(t); }},
    {"T0RealWater", SetTP(0, 1), 13, kNoSpecies, kRealWater},
    {"T1000RealWater", SetTP(1000, 5000), 13, kNoSpecies, kRealWater},
    {"WlStartZero", Set(7, 2, 0.0), 10, "Wavelengths must be positive (row=7, col=2)"},
    {"WlStopBelowStart", Set(8, 2, 399.0), 11,
     "wl_stop must be greater than wl_start (row=8, col=2)"},
    {"EmptyWindow", [](GridSheet& s) { s.SetValue(7, 2, 410.0), s.SetValue(8, 2, 420.0); }, 3,
     "Unexpected error (short file?) (row=26, col=1)"},
    {"NineSpecies", Set(9, 2, 9.0), 12, "Incorrect number of species (row=9, col=2)"},
    {"TextInSpeciesRow", Set(10, 1, S("x")), 1, "Check number of species!"},
    {"UnknownSpecies", Set(10, 2, S("CoCl3-")), 13,
     "Species not found in the database (CoCl3-, row=10, col=2)"},
    {"GasSpecies", Set(10, 2, S("HCl(g)")), 14,
     "Species is not an aqueous (HCl(g), row=10, col=2)"},
    {"NotInSystem", Set(11, 2, S("Fe+2")), 15,
     "Species not found in System file (Fe+2, row=11, col=2)"},
    {"Duplicate", Set(11, 2, S("CoCl+")), 16, "Duplicated species found (CoCl+, row=11, col=2)"},
    // A mistyped start value is no 0 kJ/mol.
    {"InitialNotANumber", Set(10, 3, S("-188,7")), 17,
     "Could not calculate initial energy (not a number: \"-188,7\", row=10, col=3)"},
    // Probes of a tiny " ±" would be lost in the noise of the goal function.
    {"TinyProbeScaleRaised",
     Set(10, 5, 0.001),
     0,
     "",
     {},
     [](auto& t) {
         EXPECT_FUZZY(t.st.GScale(1), 0.01 / std::sqrt(3.841), 1e-6);
         EXPECT_EQ(t.st.Notes.size(), 1u);
     }},
    // A formula saved without its value is no missing absorbance.
    {"FormulaWithoutValue", kValid, 3,
     "Unexpected error (short file?) (a formula without its value: recalculate and save the "
     "workbook in a spreadsheet program, row=22, col=3)",
     [](auto& t) {
         t.Read(), t.Grid().ClearContents(22, 3, 22, 3);
         t.Grid().LoadValue(22, 3, CellValue{}, true);
     }},
    // The 16-bit cursor ends the sheet by name, not as a short file.
    {"MoreRowsThanTheCursor",
     [](GridSheet& s) {
         for (int r = 26; r <= 32768; ++r) SetRow(r, {700.0 + r, 0.1, 0.1, 0.1})(s);
     },
     3, "Unexpected error (short file?) (more than 32767 rows, row=32767, col=1)"},
    {"StartValueFails", kValid, 17, "Could not calculate initial energy (row=10, col=3)",
     [](auto& t) { t.propsD->failingCode = 500; },
     [](auto& t) { EXPECT_TRUE(IsEmpty(t.Grid().Value(10, 3))); }}, // not written
    {"RowTooShort", SetRow(15, {S("CoCl2"), 0.01, 0.01, S("*")}), 20,
     "Data row is too short (row=15, col=4)"},
    {"RowTooLong", SetRow(15, {S("CoCl2"), 0.01, 0.01, 0.02, 0.03}), 18,
     "Data row is too long (row=15, col=5)"},
    {"NegativeValue", Set(14, 3, -0.2), 21, "Composition value is invalid (row=14, col=3)"},
    {"UnknownElement", Set(16, 1, S("Xy")), 19, "Invalid formula of a substance (row=16, col=5)"},
    {"NoSolutionName", Set(20, 3, S("")), 22, "Solution must have name (row=20, col=3)"},
    {"WavelengthsRepeat", Set(23, 1, 400.0), 23, "Wavelengths must grow (row=23, col=1)"},
    {"SpectrumRowTooLong", Set(22, 5, 0.4), 18, "Data row is too long (row=22, col=5)"},
    {"SkippedRowMayBeLong", Set(21, 5, 0.4), 0, ""},
};

INSTANTIATE_TEST_SUITE_P(DataErrors, ReadDataSetVariant, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

// Water (code 0) and OH- (code 2): their Gibbs energies in J/mol as kJ/mol.
TEST_F(ReadDataSetTest, StartValuesOfWaterAndHydroxide) {
    Save("set.xlsx", [](GridSheet& s) {
        SetRow(10, {S(""), S("H2O")})(s), SetRow(11, {S(""), S("OH-")})(s);
    });
    Read();
    EXPECT_EQ(std::tuple(st.ErrCode, st.G0Init(1), st.G0Init(2)),
              std::tuple(0, -237.183f, -157.25f));
    EXPECT_EQ(Grid().Value(11, 3), CellValue{static_cast<double>(-157.25f)});
}

TEST_F(ReadDataSetTest, RejectedNameIsNotRemembered) {
    Read();
    ASSERT_EQ(st.ErrCode, 0);
    Read("other.xls"); // not a file type of the host
    EXPECT_EQ(std::tuple(st.ErrCode, st.SrcFile), std::tuple(-2, "set.xlsx"));
    EXPECT_TRUE(st.xlsWatch->Changed);
    Read("missing.xlsx"); // the host's reason
    EXPECT_EQ(std::tuple(st.ErrCode, st.SrcFile), std::tuple(-4, ""));
    EXPECT_EQ(st.ErrMsg, "Cannot open " + dir.dir + "/missing.xlsx: No such file or directory");
}

TEST_F(ReadDataSetTest, PathInTheBoxKeepsItsWorkbook) {
    // Every later command refreshes the workbook the path named (a bare name compared
    // with the whole path once made them all fail with "File not open").
    for (const std::string& name : {dir.Path("set.xlsx"), dir.dir + "/./set.xlsx", S("set.xlsx")}) {
        Read(name);
        ASSERT_EQ(st.ErrCode, 0) << name << ": " << st.ErrMsg;
    }
    EXPECT_EQ(host->WorkbookCount(), 1);
    // The start value and cleared intervals the read wrote are no reason to save.
    EXPECT_FALSE(st.xlBook->Dirty());
    Read("set.xlsx"), Grid().SetValue(30, 1, S("x")), Read("missing.xlsx");
    EXPECT_TRUE(host->WorkbookItem(1)->Dirty()); // the program's own write stays to be saved
}

TEST_F(ReadDataSetTest, GaussianModeWithoutBandsFallsBack) {
    Read();
    ASSERT_EQ(st.ErrCode, 0);
    st.FitMode = 1;
    Read(); // no band table on the sheet: the normal mode, with a word to the user
    EXPECT_EQ(std::tuple(st.ErrCode, st.FitMode), std::tuple(0, 0)) << st.ErrMsg;
    EXPECT_TRUE(ui.messages.size() == 1 && ui.messages[0].icon == Icon::Exclamation);
    EXPECT_TRUE(IsEmpty(Grid().Value(12, 5))); // the mode tag is cleared in Gaussian mode
    // Opening another workbook starts in the normal mode.
    st.FitMode = 1;
    Save("b.xlsx");
    Read("b.xlsx");
    EXPECT_EQ(std::tuple(st.ErrCode, st.FitMode), std::tuple(0, 0)) << st.ErrMsg;
}

} // namespace
} // namespace lumora::test
