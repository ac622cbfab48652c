// The export with a solver double whose speciation is known, so the bytes are known.

#include "export/ExportSolutions.h"

#include "FakeSolver.h"
#include "TestUi.h"
#include "WorkbookFiles.h"

#include <gtest/gtest.h>

namespace lumora::test {
namespace {

// A gas (species 1), then H2O, A, B. Element 1 is A; B = 1000 * A^2, so the table holds
// the difference of two speciations, not the speciation of the difference.
struct ExportTest : ::testing::Test {
    void SetUp() override {
        st.WorkDir = tmp.dir + "/";
        st.sysRec.spName = {"", "CO2(g)", "H2O", "A", "B"};
        st.sysRec.lastAq = st.AqLast = 4;
        st.AqFirst = st.nSol = 2;
        st.nSp = st.nEl = 1;
        st.SpIdx.Redim(1), st.SpIdx(1) = 4;
        st.G0.Redim(1), st.G0(1) = -123.456789012345;
        st.Bulk.Redim(1, 2), st.BulkCorr.Redim(1, 2);
        st.Bulk(0, 1) = st.BulkCorr(0, 1) = kWaterMolality;
        st.Bulk(0, 2) = st.BulkCorr(0, 2) = 2 * kWaterMolality; // 2 kg of water
        st.Bulk(1, 1) = 0.0012345, st.Bulk(1, 2) = 0.003;
        st.BulkCorr(1, 2) = 0.005; // solution 2 holds more in its marked rows than in all
        st.SolDens.Redim(2), st.SolDens(1) = 1.0f, st.SolDens(2) = 1.25f;
        st.WAmt.Redim(4);
        st.solver = std::make_unique<FakeSolver>([](auto&, auto bulk, std::span<double> amt) {
            const double a[] = {0.0, bulk[0], bulk[1], 1000.0 * bulk[1] * bulk[1]};
            std::copy(a, a + 4, amt.begin() + 1);
        });
        st.Conc.Redim(1, 2), st.Conc(1, 1) = 0.6;
    }

    FakeSolver& Fake() { return static_cast<FakeSolver&>(*st.solver); }
    std::string File() const { return tmp.Path("Solutions.txt"); }

    TempDir tmp;
    State st;
    TestUi ui{st};
};

// Solution 2 per kg of water, times density: A (0.003 - 0.005) / 2 * 1.25, B 1000 * (0.003^2
// - 0.005^2) / 2 * 1.25. The goal function's concentrations (the views') are left alone.
TEST_F(ExportTest, WritesTheTableByteForByteOverAnOldFile) {
    std::ofstream(File()) << std::string(300, '.');
    const Mat<double> conc = st.Conc;
    ExportSolutions(st);
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_TRUE(st.Conc == conc);
    EXPECT_EQ(ReadBytes(File()), "\t1\t2\r\nH2O\t0.00E+00\t0.00E+00\r\n"
                                 "A\t1.23E-03\t-1.25E-03\r\nB\t1.52E-03\t-1.00E-02\r\n");
    ExpectMessage(ui, "File Solutions.txt is written to the working folder  ", Icon::Information);
    EXPECT_EQ(Fake().G().at(4), static_cast<float>(-123.456789012345));
    EXPECT_EQ(tmp.Count(), 1u); // no temporary left
}

// Every way the export stops: no new file, the old one kept, the message seen ("" none, "@"
// the folder). Esc at yield -1: an interrupt set before the start ends it, engine unused.
struct Stop {
    const char *name, *failMessage, *workDir, *message; ///< engine's reason; below the folder
    long escAt, failAt; ///< the yield that brings Esc, the engine call that fails
    double water2;      ///< water in the full composition of solution 2
    int16_t aqLast;
};

class ExportStops : public ExportTest, public ::testing::WithParamInterface<Stop> {};

TEST_P(ExportStops, NoFileAndTheOldOneKept) {
    const Stop& p = GetParam();
    std::ofstream(File()) << "previous export\r\n";
    std::ofstream(tmp.Path("plain")) << "x";
    ui.interruptAtYield = p.escAt;
    if (p.escAt < 0) st.ErrCode = kInterrupt;
    Fake().failAtCall = p.failAt;
    Fake().failMessage = p.failMessage;
    st.Bulk(0, 2) = p.water2;
    st.AqLast = p.aqLast;
    st.WorkDir += p.workDir;
    ExportSolutions(st);
    EXPECT_EQ(st.ErrCode, *p.message ? -1 : kInterrupt);
    EXPECT_EQ(ReadBytes(File()), "previous export\r\n");
    EXPECT_EQ(tmp.Count(), 2u); // no temporary left
    EXPECT_TRUE(p.escAt >= 0 || Fake().calls == 0);
    std::string want = p.message;
    if (const size_t at = want.find('@'); at != std::string::npos) want.replace(at, 1, tmp.dir);
    ExpectMessage(ui, want);
}

constexpr double kW = kWaterMolality;
INSTANTIATE_TEST_SUITE_P(
    Cases, ExportStops,
    ::testing::Values(Stop{"AStrayInterruptBeforeTheStartEndsSilently", "", "", "", -1, 0, kW, 4},
                      Stop{"EscDuringTheLastSpeciation", "", "", "", 4, 0, kW, 4},
                      Stop{"EngineFailsOnTheMarkedRows", "Mass balance not satisfied", "",
                           "Mass balance not satisfied  ", 0, 2, kW, 4},
                      Stop{"EngineFailsWithoutAReason", "", "", "Equilibrium calculation failed  ",
                           0, 3, kW, 4},
                      Stop{"NoWaterFromTheEngine", "", "",
                           "Cannot export solutions: Division by zero  ", 0, 0, 0.0, 4},
                      Stop{"AqueousRangeBeyondTheSpeciesList", "", "",
                           "Cannot export solutions: Subscript out of range  ", 0, 0, kW, 6},
                      Stop{"WorkingFolderIsAPlainFile", "", "plain/",
                           "Cannot write @/plain/Solutions.txt: Not a directory  ", 0, 0, kW, 4}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace lumora::test
