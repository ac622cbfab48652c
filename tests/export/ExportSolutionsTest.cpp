// The export on a hand-built data set with a solver double whose speciation is known,
// so the file's bytes can be written down in advance.

#include "export/ExportSolutions.h"

#include "FakeSolver.h"
#include "TestUi.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace lumora::test {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

// System: a gas (species 1) before the aqueous phase H2O, A, B (species 2..4).
// Element 1 of the bulk is A; B = 1000 * A^2, so the table holds the difference of
// two speciations, not the speciation of the difference.
struct ExportTest : ::testing::Test {
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir = fs::path(LUMORA_TEST_BUILD_DIR) / ("export_" + name.substr(0, name.find('/')));
        fs::remove_all(dir);
        fs::create_directories(dir);
        st.WorkDir = dir.string() + "/";
        st.sysRec.spName = {"", "CO2(g)", "H2O", "A", "B"};
        st.sysRec.lastAq = st.AqLast = 4;
        st.AqFirst = 2;
        st.nSp = 1;
        st.SpIdx.Redim(1);
        st.SpIdx(1) = 4;
        st.G0.Redim(1);
        st.G0(1) = -123.456789012345;
        st.nSol = 2;
        st.nEl = 1;
        st.TC = 25.0f;
        st.PBar = 1.0f;
        st.Bulk.Redim(1, 2);
        st.BulkCorr.Redim(1, 2);
        st.Bulk(0, 1) = st.Bulk(0, 2) = st.BulkCorr(0, 1) = st.BulkCorr(0, 2) = kWaterMolality;
        st.Bulk(1, 1) = 0.0012345;
        st.Bulk(1, 2) = 0.003;
        st.BulkCorr(1, 2) = 0.001; // solution 2 has a marked row
        st.SolDens.Redim(2);
        st.SolDens(1) = 1.0f;
        st.SolDens(2) = 1.25f;
        st.WArr1.Redim(0);
        st.WAmt.Redim(4);
        st.WArr2.Redim(4);
        st.solver =
            std::make_unique<FakeSolver>([](const std::map<int16_t, float>&,
                                            std::span<const double> bulk, std::span<double> amt) {
                amt[1] = 0.0;
                amt[2] = bulk[0];
                amt[3] = bulk[1];
                amt[4] = 1000.0 * bulk[1] * bulk[1];
            });
        st.Conc.Redim(1, 2); // the goal function's concentrations, which the views show
        st.Conc(1, 1) = 0.6;
    }

    FakeSolver& Fake() { return static_cast<FakeSolver&>(*st.solver); }
    fs::path File() const { return dir / "Solutions.txt"; }

    State st;
    TestUi ui{st};
    fs::path dir;
};

TEST_F(ExportTest, WritesTheTableByteForByteOverAnOldFile) {
    WriteAll(File(), std::string(300, '.'));
    ExportSolutions(st);
    EXPECT_EQ(st.ErrCode, 0);
    // A: 0.0012345 and 0.003 - 0.001 scaled by the density 1.25;
    // B: 1000 * 0.0012345^2 and 1000 * (0.003^2 - 0.001^2) * 1.25.
    EXPECT_EQ(ReadAll(File()), "\t1\t2\r\nH2O\t0.00E+00\t0.00E+00\r\n"
                               "A\t1.23E-03\t2.50E-03\r\nB\t1.52E-03\t1.00E-02\r\n");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "File Solutions.txt is written to the working folder  ");
    EXPECT_EQ(ui.messages[0].icon, Icon::Information);
    EXPECT_EQ(Fake().G().at(4), static_cast<float>(-123.456789012345));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1); // no temporary left

    // Solution 1 in 2 kg of water with density 1.25: A 0.004 / 2 * 1.25 = 2.50E-03,
    // B 1000 * 0.004^2 / 2 * 1.25 = 1.00E-02. Solution 2 holds more in its marked rows
    // than in the whole: A (0.003 - 0.005) * 1.25, B 1000 * (0.003^2 - 0.005^2) * 1.25.
    st.Bulk(0, 1) = st.BulkCorr(0, 1) = 2 * kWaterMolality;
    st.Bulk(1, 1) = 0.004;
    st.SolDens(1) = 1.25f;
    st.BulkCorr(1, 2) = 0.005;
    ExportSolutions(st);
    EXPECT_EQ(ReadAll(File()), "\t1\t2\r\nH2O\t0.00E+00\t0.00E+00\r\n"
                               "A\t2.50E-03\t-2.50E-03\r\nB\t1.00E-02\t-2.00E-02\r\n");
}

TEST_F(ExportTest, LeavesTheGoalFunctionsConcentrationsAlone) {
    Mat<double> before = st.Conc;
    ExportSolutions(st);
    ASSERT_EQ(st.ErrCode, 0);
    EXPECT_TRUE(st.Conc == before);
}

TEST_F(ExportTest, AStrayInterruptBeforeTheStartEndsSilently) {
    st.ErrCode = kInterrupt;
    ExportSolutions(st);
    EXPECT_EQ(st.ErrCode, kInterrupt);
    EXPECT_EQ(Fake().calls, 0);
    EXPECT_FALSE(fs::exists(File()));
    EXPECT_TRUE(ui.messages.empty());
}

// Every way the export stops: no new file, the old one kept, and the message the user
// sees ("" for none; "@" stands for the test's folder).
struct Stop {
    const char* name;
    long escAt, failAt;      ///< the yield that brings Esc, the engine call that fails
    const char* failMessage; ///< the engine's reason
    double water2;           ///< water in the full composition of solution 2
    int16_t aqLast;
    const char* workDir; ///< below the test's folder; "" for the folder
    const char* message;
};

void PrintTo(const Stop& s, std::ostream* os) {
    *os << s.name;
}

class ExportStops : public ExportTest, public ::testing::WithParamInterface<Stop> {};

TEST_P(ExportStops, NoFileAndTheOldOneKept) {
    const Stop& p = GetParam();
    WriteAll(File(), "previous export\r\n");
    WriteAll(dir / "plain", "x");
    ui.interruptAtYield = p.escAt;
    Fake().failAtCall = p.failAt;
    Fake().failMessage = p.failMessage;
    st.Bulk(0, 2) = p.water2;
    st.AqLast = p.aqLast;
    st.WorkDir += p.workDir;
    ExportSolutions(st);
    EXPECT_EQ(st.ErrCode, *p.message ? -1 : kInterrupt);
    EXPECT_EQ(ReadAll(File()), "previous export\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2); // no temporary left
    std::string want = p.message;
    if (const size_t at = want.find('@'); at != std::string::npos) want.replace(at, 1, dir);
    if (want.empty()) {
        EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    } else {
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, want);
        EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
    }
}

constexpr double kW = kWaterMolality;
INSTANTIATE_TEST_SUITE_P(
    Cases, ExportStops,
    ::testing::Values(Stop{"EscDuringTheLastSpeciation", 4, 0, "", kW, 4, "", ""},
                      Stop{"EngineFailsOnTheMarkedRows", 0, 2, "Mass balance not satisfied", kW, 4,
                           "", "Mass balance not satisfied  "},
                      Stop{"EngineFailsWithoutAReason", 0, 3, "", kW, 4, "",
                           "Equilibrium calculation failed  "},
                      Stop{"NoWaterFromTheEngine", 0, 0, "", 0.0, 4, "",
                           "Cannot export solutions: Division by zero  "},
                      Stop{"AqueousRangeBeyondTheSpeciesList", 0, 0, "", kW, 6, "",
                           "Cannot export solutions: Subscript out of range  "},
                      Stop{"WorkingFolderIsAPlainFile", 0, 0, "", kW, 4, "plain/",
                           "Cannot write @/plain/Solutions.txt: Not a directory  "},
                      Stop{"WorkingFolderIsMissing", 0, 0, "", kW, 4, "gone/",
                           "Cannot write @/gone/Solutions.txt: No such file or directory  "}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace lumora::test
