// The data-set reader with an in-memory host and engine: a complete read, every
// data error with its message and cell position, file choice, refresh and the
// Gaussian-mode load.

#include "FuzzyCompare.h"
#include "ValidDataSet.h"
#include "base/NumText.h"
#include "engine/DataPath.h"
#include "model/GaussBand.h"
#include "model/GaussTable.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>

namespace lumora::test {
namespace {

using ReadDataSetTest = ReaderFixture;

double Num(const CellValue& v) {
    return std::holds_alternative<double>(v) ? std::get<double>(v) : NAN;
}

TEST_F(ReadDataSetTest, ValidDataSetReadsCompletely) {
    Read();
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(st.ErrMsg, "");
    EXPECT_EQ(st.Title, "Cobalt chloride"); // A1 empty: B1
    EXPECT_EQ(st.SrcFile, kFile);
    EXPECT_EQ(st.WorkDir, kFolder);
    EXPECT_EQ(host->opened, std::vector<std::string>{"/data/set.xlsx"});
    EXPECT_TRUE(host->visible);

    // Conditions: P = 0 at 25 C is the saturation pressure raised to 1 bar.
    EXPECT_EQ(st.TC, 25.0f);
    EXPECT_EQ(st.TK, 25.0f + 273.15f);
    EXPECT_EQ(st.PBar, 1.0f);
    EXPECT_EQ(st.Dens, 0.997f);
    EXPECT_EQ(st.WlStart, 400.0f);
    EXPECT_EQ(st.WlStop, 600.0f);
    EXPECT_EQ(st.AqFirst, 2);
    EXPECT_EQ(st.AqLast, 10);

    // Species
    ASSERT_EQ(st.nSp, 2);
    EXPECT_EQ(st.SpName(1), "CoCl+");
    EXPECT_EQ(st.SpName(2), "CoCl2");
    EXPECT_EQ(st.SpIdx(1), 8);
    EXPECT_EQ(st.SpIdx(2), 9);
    EXPECT_EQ(st.G0Init(1), -(100.0f + 500 / 8.0f)); // start value of an HKF species
    EXPECT_EQ(st.G0Init(2), -300.5f);
    EXPECT_EQ(st.G0Res(1), st.G0Init(1));
    EXPECT_EQ(st.G0Res(2), -301.0f);
    EXPECT_EQ(st.SpFree(1), kTrue);
    EXPECT_EQ(st.SpFree(2), kFalse);
    EXPECT_EQ(st.nFree, 1);
    // 3.92 / sqrt(1 x 3.841), about 2.0; a species without a value gets 1.
    EXPECT_FUZZY(st.GScale(1), 3.92 / std::sqrt(3.841), 1e-6);
    EXPECT_NEAR(st.GScale(1), 2.0, 0.001);
    EXPECT_EQ(st.GScale(2), 1.0f);
    EXPECT_EQ(st.G0(1), st.G0Init(1));
    EXPECT_EQ(st.G0(2), st.G0Init(2));

    // Composition: element order H, O, Na, Cl, Co (elemCode 1, 8, 11, 17, 27).
    ASSERT_EQ(st.nSol, 3);
    EXPECT_EQ(st.nComp, 3);
    EXPECT_EQ(st.nEl, 5);
    const double na[] = {0.1, 0.2, 0.3};
    const double co[] = {0.01, 0.01, 0.02};
    const double h[] = {0.001, 0.002, 0.003};
    for (int j = 1; j <= 3; ++j) {
        SCOPED_TRACE(j);
        EXPECT_EQ(st.Bulk(0, j), 55.50843);
        EXPECT_EQ(st.BulkCorr(0, j), 55.50843);
        EXPECT_FUZZY(st.Bulk(1, j), h[j - 1], 1e-12);
        EXPECT_EQ(st.Bulk(2, j), 0.0);
        EXPECT_FUZZY(st.Bulk(3, j), na[j - 1], 1e-12);
        EXPECT_FUZZY(st.Bulk(4, j), na[j - 1] + 2 * co[j - 1] + h[j - 1], 1e-12);
        EXPECT_FUZZY(st.Bulk(5, j), co[j - 1], 1e-12);
        // Only the rows marked "*" and "Corrected"
        EXPECT_FUZZY(st.BulkCorr(1, j), h[j - 1], 1e-12);
        EXPECT_EQ(st.BulkCorr(3, j), 0.0);
        EXPECT_FUZZY(st.BulkCorr(4, j), 2 * co[j - 1] + h[j - 1], 1e-12);
        EXPECT_FUZZY(st.BulkCorr(5, j), co[j - 1], 1e-12);
    }
    EXPECT_EQ(st.SolDens(1), 1.01f);
    EXPECT_EQ(st.SolDens(2), 1.02f);
    EXPECT_EQ(st.SolDens(3), 1.03f);
    EXPECT_EQ(st.SolWeight(1), 0.5f);
    EXPECT_EQ(st.SolWeight(2), 1.0f);
    EXPECT_EQ(st.SolWeight(3), 1.5f);

    // Spectra: 380 and 700 lie outside [400, 600].
    EXPECT_EQ(st.SolName(1), "s1");
    EXPECT_EQ(st.SolName(3), "s3");
    EXPECT_EQ(st.RowWave, 20);
    ASSERT_EQ(st.nWl, 3);
    EXPECT_EQ(st.RowWlFirst, 22);
    EXPECT_EQ(st.RowWlLast, 24);
    EXPECT_EQ(st.RowWlSkip, 25);
    EXPECT_EQ(st.WlMin, 122.0);
    EXPECT_EQ(st.WlMax, 700.0);
    EXPECT_EQ(st.MeanWl, 500.0);
    EXPECT_EQ(st.AbsM(0, 1), 400.0);
    EXPECT_EQ(st.AbsM(0, 3), 600.0);
    EXPECT_EQ(st.AbsM(1, 1), 0.1);
    EXPECT_EQ(st.AbsM(3, 1), 1e35); // empty cell
    EXPECT_EQ(st.AbsM(2, 2), 1e35); // text
    EXPECT_EQ(st.AbsM(3, 3), 0.05);

    // Work arrays
    EXPECT_EQ(st.Conc.UBound1(), 2);
    EXPECT_EQ(st.Conc.UBound2(), 3);
    EXPECT_EQ(st.Eps.UBound2(), 3);
    EXPECT_EQ(st.AbsC.UBound1(), 3);
    EXPECT_EQ(st.WBulk.UBound(), 5);
    EXPECT_EQ(st.WAmt.UBound(), 10);
    EXPECT_EQ(st.WArr1.UBound(), 0);
    EXPECT_EQ(st.NormM.UBound1(), 2);

    // Initial evaluation with probe -1 at G0 = G0Init
    EXPECT_EQ(goalCalls, 1);
    EXPECT_EQ(goalProbe, -1);
    EXPECT_EQ(goalG0, (std::vector<double>{st.G0Init(1), st.G0Init(2)}));
    EXPECT_FUZZY(st.RmsErr, 0.02, 1e-12);
    EXPECT_EQ(st.GaussLimit, 0.95);
    EXPECT_EQ(st.Damping, 1e-10);
    EXPECT_EQ(st.RelTol, 1e-8);
}

TEST_F(ReadDataSetTest, ValidDataSetWritesOnlyItsCells) {
    Read();
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    FakeSheet& sh = Sheet();
    EXPECT_EQ(Num(sh.At(10, 3)), static_cast<double>(-(100.0f + 500 / 8.0f))); // filled in
    EXPECT_EQ(Num(sh.At(11, 3)), -300.5);                                      // kept
    EXPECT_TRUE(IsEmpty(sh.At(10, 5)));                                        // " ±" cleared
    EXPECT_FUZZY(Num(sh.At(12, 3)), 0.02, 1e-12);                              // mean error
    EXPECT_TRUE(IsEmpty(sh.At(12, 4)));
    EXPECT_EQ(std::get<std::string>(sh.At(12, 5)), "tag"); // normal mode keeps the tag
    std::set<Cell> written(sh.writes.begin(), sh.writes.end());
    EXPECT_EQ(written, (std::set<Cell>{{10, 3}, {12, 3}}));
    for (const auto& [from, to] : sh.clears) {
        const bool pm =
            from.second == 5 && to.second == 5 && (from.first == 10 || from.first == 11);
        const bool mean = from == Cell{12, 3} && to == Cell{12, 4};
        EXPECT_TRUE(pm || mean) << from.first << "," << from.second;
    }
    EXPECT_TRUE(sh.fullClears.empty());
}

TEST_F(ReadDataSetTest, EngineCallsAndUiInOrder) {
    Read();
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    const std::vector<std::string> head = {"Solver.OpenDatabase /db/thermo.toml",
                                           "Solver.LastMessage",
                                           "Props.OpenDatabase /db/thermo.toml",
                                           "Solver.SetOptions /x/mode=1",
                                           "Solver.LastMessage",
                                           "Solver.OpenSystem /db/co.toml",
                                           "Solver.LastMessage",
                                           "SysReader.ReadSystem /db/co.toml",
                                           "Props.SaturationPressure",
                                           "Props.WaterDensity",
                                           "Props.WaterValueA",
                                           "Props.WaterValueB",
                                           "Props.FindSpecies CoCl+",
                                           "Props.SpeciesCode",
                                           "Props.StartValueLow",
                                           "Props.FindSpecies CoCl2",
                                           "Props.SpeciesCode",
                                           "Props.FormulaElements NaCl"};
    ASSERT_GE(log.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + head.size()), head);

    EXPECT_EQ(ui.statuses,
              (std::vector<std::string>{"Reading data file...", "Initial estimating...",
                                        "Initial data set.    Error: 0.020000"}));
    EXPECT_FALSE(st.xlsWatch->Changed);
    EXPECT_EQ(st.ReadSerial, 1); // views reload their data after a new read
    EXPECT_EQ(st.xlsWatch->Sheet(), &Sheet());
    EXPECT_TRUE(Sheet().Events());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ReadDataSetTest, InterruptAfterTheReadIsIgnored) {
    Read();
    ASSERT_EQ(st.ErrCode, 0);
    ui.yields = 0;
    Read(); // a refresh, counting its yields
    ASSERT_EQ(st.ErrCode, 0);
    ui.interruptAtYield = ui.yields; // Esc at the last yield of the next refresh
    ui.yields = 0;
    Read();
    EXPECT_EQ(ui.yields, ui.interruptAtYield);
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_EQ(st.ErrMsg, "");
    EXPECT_FALSE(st.xlsWatch->Changed);

    // An interrupt of the goal function fails the read.
    goalCode = kInterrupt;
    Read();
    EXPECT_EQ(st.ErrCode, 9);
}

TEST_F(ReadDataSetTest, EmptyOptionsSendOnlyTheMode) {
    edit = [](FakeSheet& s) {
        s.Put(4, 2, CellValue{});
        s.Put(1, 1, S("A title"));
    };
    Read();
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_NE(std::find(log.begin(), log.end(), "Solver.SetOptions /mode=1"), log.end());
    EXPECT_EQ(st.Title, "A title");
}

// ---------------------------------------------------------------------------
// Data errors: each variant of the valid set with its code, message and position.

struct Variant {
    const char* name;
    std::function<void(FakeSheet&)> edit;
    int16_t code;
    std::string message; ///< ErrMsg as the reader leaves it
    bool noLimits = false;
};

std::function<void(FakeSheet&)> Set(int row, int col, CellValue v) {
    return [=](FakeSheet& s) { s.Put(row, col, v); };
}
std::function<void(FakeSheet&)> SetRow(int row, std::vector<CellValue> v) {
    return [=](FakeSheet& s) { s.Row(row, v); };
}

class ReadDataSetVariant : public ReaderFixture, public ::testing::WithParamInterface<Variant> {};

TEST_P(ReadDataSetVariant, CodeMessageAndPosition) {
    const Variant& v = GetParam();
    edit = v.edit;
    st.NoLimits = v.noLimits;
    Read();
    EXPECT_EQ(st.ErrCode, v.code);
    EXPECT_EQ(st.ErrMsg, v.message);
    if (v.code != 0) {
        EXPECT_TRUE(st.xlsWatch->Changed); // every command re-reads first
        EXPECT_EQ(st.ReadSerial, 0);
        EXPECT_EQ(st.RelTol, 1e-8);
    }
}

const Variant kVariants[] = {
    // Keywords and mandatory values
    {"KeywordCase", Set(2, 1, S("database:")), 4, "Incorrect keyword (row=2, col=1)"},
    {"KeywordMissingRow", Set(5, 1, S("")), 4, "Incorrect keyword (row=5, col=1)"},
    {"NoDatabase", Set(2, 2, S("")), 5, "No mandatory data (row=2, col=2)"},
    {"NoSystem", Set(3, 2, S("")), 5, "No mandatory data (row=3, col=2)"},
    {"NoTemperature", Set(5, 2, S("")), 5, "No mandatory data (row=5, col=2)"},
    {"NoSpeciesCount", Set(9, 2, S("")), 5, "No mandatory data (row=9, col=2)"},
    {"TemperatureText", Set(5, 2, S("warm")), 3, "Unexpected error (short file?) (row=5, col=2)"},
    {"HeaderResult", Set(9, 4, S("result")), 4, "Incorrect keyword (row=9, col=5)"},
    {"HeaderPlusMinus", Set(9, 5, S("\u00B1")), 4, "Incorrect keyword (row=9, col=5)"},
    {"MeanErrWrong", Set(12, 1, S("Mean err")), 4, "Incorrect keyword (row=12, col=1)"},
    {"NoMolality", Set(13, 2, S("Composition, mol/l")), 4, "Incorrect keyword (row=13, col=2)"},
    {"NoAbsorption", Set(19, 2, S("Spectra")), 4, "Incorrect keyword (row=19, col=2)"},
    {"NoWave", Set(20, 1, S("Lambda")), 4, "Incorrect keyword (row=20, col=1)"},
    // Ranges, with and without the switch that lifts them
    {"T1000", Set(5, 2, 1000.0), 0, ""},
    {"T1000_5", Set(5, 2, 1000.5), 7, "T/P/D out of range"},
    {"T1000_5NoLimits", Set(5, 2, 1000.5), 0, "", true},
    {"TNegative", Set(5, 2, -1.0), 7, "T/P/D out of range"},
    {"TNegativeNoLimits", Set(5, 2, -1.0), 0, "", true},
    {"P5000", Set(6, 2, 5000.0), 0, ""},
    {"P5001", Set(6, 2, 5001.0), 7, "T/P/D out of range"},
    {"P5001NoLimits", Set(6, 2, 5001.0), 0, "", true},
    {"PNegativeNoLimits", Set(6, 2, -1.0), 7, "T/P/D out of range", true},
    {"PBelowOne", Set(6, 2, 0.5), 7, "T/P/D out of range", true},
    {"WlStartZero", Set(7, 2, 0.0), 10, "Wavelengths must be positive (row=7, col=2)"},
    {"WlStopBelowStart", Set(8, 2, 399.0), 11,
     "wl_stop must be greater than wl_start (row=8, col=2)"},
    {"WlStopEqualsStart", Set(8, 2, 400.0), 0, ""},
    {"EmptyWindow", [](FakeSheet& s) { s.Put(7, 2, 410.0), s.Put(8, 2, 420.0); }, 3,
     "Unexpected error (short file?) (row=26, col=1)"},
    // Species
    {"NineSpecies", Set(9, 2, 9.0), 12, "Incorrect number of species (row=9, col=2)"},
    {"ZeroSpecies", Set(9, 2, 0.0), 12, "Incorrect number of species (row=9, col=2)"},
    {"TextInSpeciesRow", Set(10, 1, S("x")), 1, "Check number of species!"},
    {"NoSpeciesName", Set(10, 2, S("")), 1, "Check number of species!"},
    {"MeanErrMissing", SetRow(12, {S(""), S("")}), 1, "Check number of species!"},
    {"UnknownSpecies", Set(10, 2, S("CoCl3-")), 13,
     "Species not found in the database (row=10, col=2)"},
    {"GasSpecies", Set(10, 2, S("HCl(g)")), 14, "Species is not an aqueous (row=10, col=2)"},
    {"NotInSystem", Set(11, 2, S("Fe+2")), 15, "Species not found in System file (row=11, col=2)"},
    {"Duplicate", Set(11, 2, S("CoCl+")), 16, "Duplicated species found (row=11, col=2)"},
    // Composition
    {"RowTooShort", SetRow(15, {S("CoCl2"), 0.01, 0.01, S("*")}), 20,
     "Data row is too short (row=15, col=4)"},
    {"RowTooLong", SetRow(15, {S("CoCl2"), 0.01, 0.01, 0.02, 0.03}), 18,
     "Data row is too long (row=15, col=5)"},
    {"NegativeValue", Set(14, 3, -0.2), 21, "Composition value is invalid (row=14, col=3)"},
    {"InvalidValue", Set(14, 3, S("abc")), 21, "Composition value is invalid (row=14, col=3)"},
    {"FirstRowEmpty", SetRow(14, {S("NaCl"), S("*")}), 20, "Data row is too short (row=14, col=2)"},
    {"UnknownElement", Set(16, 1, S("Xy")), 19, "Invalid formula of a substance (row=16, col=5)"},
    {"ElementNotInSystem", Set(14, 1, S("KCl")), 19,
     "Invalid formula of a substance (row=14, col=5)"},
    // Names and spectra
    {"NoSolutionName", Set(20, 3, S("")), 22, "Solution must have name (row=20, col=3)"},
    {"WavelengthsRepeat", Set(23, 1, 400.0), 23, "Wavelengths must grow (row=23, col=1)"},
    {"WavelengthText", Set(23, 1, S("five hundred")), 23, "Wavelengths must grow (row=23, col=1)"},
    {"SpectrumRowTooLong", Set(22, 5, 0.4), 18, "Data row is too long (row=22, col=5)"},
    {"SkippedRowMayBeLong", Set(21, 5, 0.4), 0, ""},
};

INSTANTIATE_TEST_SUITE_P(DataErrors, ReadDataSetVariant, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReadDataSetTest, EngineRefusalsHaveNoMessage) {
    struct Case {
        bool FakeSolver::*flag;
        int16_t code;
    } cases[] = {{&FakeSolver::refuseDatabase, -5},
                 {&FakeSolver::refuseOptions, -7},
                 {&FakeSolver::refuseSystem, -6}};
    for (const Case& c : cases) {
        solverD->refuseDatabase = solverD->refuseOptions = solverD->refuseSystem = false;
        solverD->*c.flag = true;
        st.SrcFile.clear();
        Read();
        EXPECT_EQ(st.ErrCode, c.code);
        EXPECT_EQ(st.ErrMsg, "");
    }
}

TEST_F(ReadDataSetTest, SystemChecks) {
    sysD->record.nAq = 0;
    Read();
    EXPECT_EQ(st.ErrCode, 6);
    EXPECT_EQ(st.ErrMsg, "No aqueous solution in System file");

    sysD->record = FakeSysReader::DefaultRecord();
    sysD->record.nPmc = 1;
    st.NoLimits = true;
    Read();
    EXPECT_EQ(st.ErrCode, 8);
    EXPECT_EQ(st.ErrMsg, "System file contains p.m.c.");
}

TEST_F(ReadDataSetTest, LowDensity) {
    propsD->density = 0.3f;
    Read();
    EXPECT_EQ(st.ErrCode, 7);
    st.NoLimits = true;
    Read();
    EXPECT_EQ(st.ErrCode, 0) << st.ErrMsg;
}

TEST_F(ReadDataSetTest, FailedStartValueIsNotWritten) {
    propsD->failingCode = 500;
    Read();
    EXPECT_EQ(st.ErrCode, 17);
    EXPECT_EQ(st.ErrMsg, "Could not calculate initial energy (row=10, col=3)");
    EXPECT_TRUE(IsEmpty(Sheet().At(10, 3)));
}

TEST_F(ReadDataSetTest, StartValuesByCode) {
    // H2O (code 0), H+ (1), OH- (2) and a log K species (1500) with empty "Initial" cells.
    edit = [](FakeSheet& s) {
        s.Row(9, {S("Species:"), 4.0, S("Initial"), S("Result"), S(" \u00B1")});
        s.Row(10, {S(""), S("H2O")});
        s.Row(11, {S(""), S("H+")});
        s.Row(12, {S(""), S("OH-")});
        s.Row(13, {S(""), S("CoCl2")});
        s.Row(14, {S("Mean err.:")});
        s.Row(15, {S(""), S("molality")});
        s.Row(16, {S("NaCl"), 0.1, 0.2, 0.3});
    };
    Read();
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(st.G0Init(1), -237.183f);
    EXPECT_EQ(st.G0Init(2), 0.0f);
    EXPECT_EQ(st.G0Init(3), -157.25f);
    EXPECT_EQ(st.G0Init(4), -(200.0f + 1500 / 16.0f));
    EXPECT_EQ(st.nFree, 4);
    for (int r = 10; r <= 13; ++r) EXPECT_FALSE(IsEmpty(Sheet().At(r, 3))) << r;
}

TEST_F(ReadDataSetTest, DensityRowBeforeFirstSubstanceHasNoEffect) {
    edit = [](FakeSheet& s) {
        s.Row(14, {S("density, g/cm3"), 1.01, 1.02, 1.03});
        s.Row(17, {S("NaCl"), 0.1, 0.2, 0.3});
    };
    Read();
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(st.SolDens(1), 1.0f);
    EXPECT_EQ(st.SolDens(3), 1.0f);
    EXPECT_EQ(st.nComp, 3);
}

TEST_F(ReadDataSetTest, GoalFailureIsCodeNine) {
    goalCode = -1;
    Read();
    EXPECT_EQ(st.ErrCode, 9);
    EXPECT_EQ(st.ErrMsg, "Could not calculate initial error");
    EXPECT_FALSE(std::holds_alternative<double>(Sheet().At(12, 3))); // cleared, not written
    EXPECT_TRUE(st.xlsWatch->Changed);
}

TEST_F(ReadDataSetTest, MissingEngineIsCodeThree) {
    st.props.reset();
    Read();
    EXPECT_EQ(st.ErrCode, 3);
    EXPECT_EQ(st.ErrMsg, "Unexpected error (short file?) (row=1, col=2)");
}

TEST_F(ReadDataSetTest, FailingCellReadGivesEmptyText) {
    // A failing read of a cell gives the empty text: here the "T, C:" value is missing.
    edit = [](FakeSheet& s) { s.failing.insert({5, 2}); };
    Read();
    EXPECT_EQ(st.ErrCode, 5);
    EXPECT_EQ(st.ErrMsg, "No mandatory data (row=5, col=2)");
}

// Robustness: random damage to the valid set never crashes and always ends with a
// documented code; a read that succeeds leaves only finite numbers.
TEST_F(ReadDataSetTest, RandomDamageGivesDocumentedCodes) {
    const std::vector<CellValue> pool = {CellValue{},
                                         S("x"),
                                         -1.0,
                                         0.0,
                                         1e40,
                                         1e-300,
                                         S("*"),
                                         S("Mean err.:"),
                                         9.0,
                                         3.5,
                                         S("1e400"),
                                         S("Wave"),
                                         S("molality"),
                                         S("weight"),
                                         S("g/cm3"),
                                         1e34,
                                         S("NaCl"),
                                         S("Xy"),
                                         S("CoCl+"),
                                         400.0,
                                         S("corrected"),
                                         5000.5,
                                         S(" \u00B1"),
                                         2.0};
    std::mt19937 rng(20261206);
    std::uniform_int_distribution<int> row(1, 27), col(1, 7), count(1, 3);
    std::uniform_int_distribution<size_t> pick(0, pool.size() - 1);
    int succeeded = 0;
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<std::tuple<int, int, CellValue>> damage;
        for (int n = count(rng); n > 0; --n)
            damage.emplace_back(row(rng), col(rng), pool[pick(rng)]);
        edit = [&](FakeSheet& s) {
            for (const auto& [r, c, v] : damage) s.Put(r, c, v);
        };
        host->books.clear();
        host->active = nullptr;
        st.SrcFile.clear();
        st.FitMode = 0;
        Read();
        SCOPED_TRACE(trial);
        const int16_t c = st.ErrCode;
        ASSERT_TRUE((c >= 0 && c <= 23 && c != 2) || (c >= -7 && c <= -5)) << c;
        EXPECT_EQ(st.ErrMsg.empty(), c <= 0);
        if (c != 0) continue;
        ++succeeded;
        for (int w = 0; w <= st.nWl; ++w)
            for (int j = 0; j <= st.nSol; ++j) ASSERT_TRUE(std::isfinite(st.AbsM(j, w)));
        for (int i = 1; i <= st.nSp; ++i) ASSERT_TRUE(std::isfinite(st.G0(i)));
        for (int j = 1; j <= st.nSol; ++j) ASSERT_TRUE(std::isfinite(st.SolWeight(j)));
        ASSERT_TRUE(std::isfinite(st.RmsErr));
    }
    EXPECT_GT(succeeded, 0); // some damage misses the data set
}

// ---------------------------------------------------------------------------
// Choosing and opening the workbook

TEST_F(ReadDataSetTest, FileTypeFollowsTheHost) {
    Read("set.xls");
    EXPECT_EQ(st.ErrCode, -2);
    Read("set.XLSX");
    EXPECT_EQ(st.ErrCode, -2);
    Read("set.xlsx.bak");
    EXPECT_EQ(st.ErrCode, -2);
    EXPECT_TRUE(host->opened.empty());
    EXPECT_EQ(st.SrcFile, "");

    host->extensions = {".xls", ".ods"};
    host->files["/data/set.ods"] = host->files["/data/set.xlsx"];
    Read("set.ods");
    EXPECT_EQ(st.ErrCode, 0) << st.ErrMsg;
}

TEST_F(ReadDataSetTest, RejectedNameIsNotRemembered) {
    Read();
    ASSERT_EQ(st.ErrCode, 0);
    Read("other.xls");
    EXPECT_EQ(st.ErrCode, -2);
    EXPECT_EQ(st.SrcFile, kFile);
    EXPECT_TRUE(st.xlsWatch->Changed);
    Read("missing.xlsx");
    EXPECT_EQ(st.ErrCode, -4);
    EXPECT_EQ(st.SrcFile, "");
}

TEST_F(ReadDataSetTest, NoHostIsCodeMinusThree) {
    running = canStart = false;
    Read();
    EXPECT_EQ(st.ErrCode, -3);
    EXPECT_EQ(st.ErrMsg, "");
}

TEST_F(ReadDataSetTest, StartsAHostWhenNoneRuns) {
    running = false;
    Read();
    EXPECT_EQ(st.ErrCode, 0) << st.ErrMsg;
}

TEST_F(ReadDataSetTest, WorkbookWithoutWorksheetIsCodeTwo) {
    host->files["/data/chart.xlsx"] = [](FakeBook&) {};
    Read("chart.xlsx");
    EXPECT_EQ(st.ErrCode, 2);
    EXPECT_EQ(st.ErrMsg, "Could not open the file");
    EXPECT_EQ(st.SrcFile, "");
}

TEST_F(ReadDataSetTest, FirstWorksheetWhenActiveSheetIsNone) {
    host->files["/data/two.xlsx"] = [](FakeBook& b) {
        FillValidDataSet(*b.AddSheet());
        b.AddSheet("Other");
        b.active = 0;
    };
    Read("two.xlsx");
    EXPECT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(st.xlSheet->Name(), "Data");
}

TEST_F(ReadDataSetTest, CancelledDialogIsMinusOne) {
    running = false; // nothing open: the dialog asks
    Read("");
    EXPECT_EQ(st.ErrCode, -1);
    EXPECT_EQ(st.ErrMsg, "");
    EXPECT_EQ(ui.dialogFilter, "Lumora source files|*.xlsx");
    EXPECT_EQ(st.WorkDir, kFolder);
    EXPECT_EQ(st.SrcFile, "");
    EXPECT_TRUE(st.xlsWatch->Changed);
}

TEST_F(ReadDataSetTest, DialogChoosesFolderAndFile) {
    running = false;
    st.WorkDir.clear();
    host->files["/elsewhere/set.xlsx"] = host->files["/data/set.xlsx"];
    ui.dialogFolder = "/elsewhere/";
    ui.dialogFile = "set.xlsx";
    Read("   ");
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(st.WorkDir, "/elsewhere/");
    EXPECT_EQ(ui.fileText, "set.xlsx");
    EXPECT_EQ(st.SrcFile, "set.xlsx");
    EXPECT_EQ(host->opened, std::vector<std::string>{"/elsewhere/set.xlsx"});
}

TEST_F(ReadDataSetTest, EmptyNameTakesTheActiveWorkbook) {
    Read();
    ASSERT_EQ(st.ErrCode, 0);
    st.WorkDir = "/unchanged/";
    Read("");
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(ui.fileText, kFile);
    EXPECT_EQ(st.WorkDir, "/unchanged/");
    EXPECT_EQ(host->opened.size(), 1u); // found among the open workbooks
    EXPECT_EQ(ui.dialogFilter, "");
}

// ---------------------------------------------------------------------------
// Refresh

TEST_F(ReadDataSetTest, RefreshRereadsWithoutReopening) {
    Read();
    ASSERT_EQ(st.ErrCode, 0);
    st.FitMode = 0;
    Sheet().UserEdit(22, 2, 0.9);
    EXPECT_TRUE(st.xlsWatch->Changed);
    Read("SET.xlsx"); // the same name in other letter case
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(st.AbsM(1, 1), 0.9);
    EXPECT_EQ(host->opened.size(), 1u);
    EXPECT_FALSE(st.xlsWatch->Changed);
    EXPECT_EQ(goalCalls, 2);
}

TEST_F(ReadDataSetTest, RefreshOfAnInactiveWorkbookIsMinusOne) {
    Read();
    ASSERT_EQ(st.ErrCode, 0);
    host->files["/data/b.xlsx"] = [](FakeBook& b) { FillValidDataSet(*b.AddSheet()); };
    Read("b.xlsx");
    ASSERT_EQ(st.ErrCode, 0);
    Read(kFile); // not the loaded one any more: opens it again by name
    ASSERT_EQ(st.ErrCode, 0);
    EXPECT_EQ(host->opened.size(), 2u); // found among the open ones, not reopened
    host->active = host->books[1].get();
    Read(kFile);
    EXPECT_EQ(st.ErrCode, -1);
}

TEST_F(ReadDataSetTest, RefreshAfterTheFileChangedOnDisk) {
    Read();
    ASSERT_EQ(st.ErrCode, 0);
    FakeBook& book = *host->books.front();
    book.onDisk = [](FakeSheet& s) {
        FillValidDataSet(s);
        s.Put(24, 2, 0.75);
    };
    Read();
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(book.reloadChecks, 1);
    EXPECT_EQ(st.AbsM(1, 3), 0.75);

    book.onDisk = [](FakeSheet&) {};
    book.diskUnreadable = true;
    Read();
    EXPECT_EQ(st.ErrCode, 2);
    EXPECT_TRUE(st.xlsWatch->Changed);
}

TEST_F(ReadDataSetTest, ReopeningAnOpenWorkbookTakesTheSavedVersion) {
    Read();
    ASSERT_EQ(st.ErrCode, 0);
    host->files["/data/b.xlsx"] = [](FakeBook& b) { FillValidDataSet(*b.AddSheet()); };
    Read("b.xlsx");
    ASSERT_EQ(st.ErrCode, 0);
    host->books.front()->onDisk = [](FakeSheet& s) {
        FillValidDataSet(s);
        s.Put(22, 3, 0.625);
    };
    Read(kFile);
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(st.AbsM(2, 1), 0.625);
    EXPECT_EQ(host->opened.size(), 2u);
}

TEST_F(ReadDataSetTest, GaussianModeWithoutBandsFallsBack) {
    Read();
    ASSERT_EQ(st.ErrCode, 0);
    st.FitMode = 1;
    // No band table on the sheet: back to the normal mode, with a word to the user.
    Read();
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(st.FitMode, 0);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].icon, Icon::Exclamation);
    EXPECT_TRUE(IsEmpty(Sheet().At(12, 5))); // the mode tag is cleared in Gaussian mode

    // Opening another workbook starts in the normal mode.
    host->files["/data/b.xlsx"] = [](FakeBook& b) { FillValidDataSet(*b.AddSheet()); };
    st.FitMode = 1;
    Read("b.xlsx");
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(st.FitMode, 0);
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(ReadDataSetTest, GaussianModeLoadsBandsAndMarks) {
    Read();
    ASSERT_EQ(st.ErrCode, 0);
    FakeSheet& sh = Sheet();
    sh.Put(9, 7, S("wL"));
    for (int t = 0; t < 2; ++t) {
        sh.Put(9, 8 + 3 * t, S("center"));
        sh.Put(9, 9 + 3 * t, S("width"));
        sh.Put(9, 10 + 3 * t, S("max"));
    }
    sh.Row(10, {S(""), S("CoCl+"), -160.0, S(""), S(""), S(""), 2.0, 450.0, 50.0, 10.0, 550.0, 60.0,
                20.0});
    sh.Row(11, {S(""), S("CoCl2"), -300.5, -301.0, S(""), S(""), 1.0, 500.0, 80.0, 30.0});
    sh.SetComment(11, 10, "fixed");
    st.FitMode = 1;
    Read();
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    EXPECT_EQ(st.FitMode, 1);
    ASSERT_EQ(BandCount(st), 3);
    EXPECT_EQ(st.GaussArg, false);
    EXPECT_FUZZY(st.GaussTab(1, 1), 450.0 / 500.0, 1e-12);
    EXPECT_FUZZY(st.GaussTab(3, 3), std::log(30.0), 1e-12);
    ASSERT_EQ(st.GaussFixed.UBound(), 9);
    for (int a = 1; a <= 9; ++a) EXPECT_EQ(st.GaussFixed(a), a == 9 ? 1 : 0) << a;
    // Eps evaluated from the bands: species 2 peaks at 500 with height 30.
    EXPECT_FUZZY(st.Eps(2, 2), 30.0, 1e-12);
    EXPECT_TRUE(ui.messages.empty());
}

// ---------------------------------------------------------------------------
// Paths of the database and system file

TEST(ResolveDataPath, WorkbookFolderFirstThenBundled) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / "resolve";
    fs::create_directories(dir / "sub");
    std::ofstream(dir / "sub" / "db.toml") << "# test\n";
    const std::string folder = dir.string() + "/";
    EXPECT_TRUE(fs::equivalent(ResolveDataPath("sub/db.toml", folder), dir / "sub" / "db.toml"));
    EXPECT_EQ(ResolveDataPath("/abs/db.toml", folder), "/abs/db.toml");
    EXPECT_EQ(ResolveDataPath("nowhere.toml", folder), "nowhere.toml");
    EXPECT_EQ(ResolveDataPath("", folder), "");
#ifdef LUMORA_DATA_DIR
    if (fs::exists(fs::path(LUMORA_DATA_DIR) / "thermo.toml")) {
        const std::string got = ResolveDataPath("thermo.toml", folder);
        EXPECT_TRUE(fs::equivalent(got, fs::path(LUMORA_DATA_DIR) / "thermo.toml")) << got;
    }
#endif
}

TEST(DataErrorText, TableAndPositions) {
    EXPECT_EQ(DataErrorText(0), "");
    EXPECT_EQ(DataErrorText(-1), "");
    EXPECT_EQ(DataErrorText(24), "");
    EXPECT_EQ(DataErrorText(1), "Check number of species!");
    EXPECT_EQ(DataErrorText(23), "Wavelengths must grow");
    int withPosition = 0;
    for (int16_t c = 1; c <= 23; ++c) withPosition += DataErrorHasPosition(c);
    EXPECT_EQ(withPosition, 3 + 14);
    EXPECT_FALSE(DataErrorHasPosition(9));
}

} // namespace
} // namespace lumora::test
