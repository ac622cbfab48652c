// The export on a hand-built data set with a solver double whose speciation is known,
// so the file's bytes can be written down in advance.

#include "export/ExportSolutions.h"

#include "FakeSolver.h"
#include "TestUi.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace lumora::test {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
}

/// Files in the folder other than the one named.
int OtherFiles(const fs::path& dir, const std::string& keep) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename() != keep) ++n;
    return n;
}

// System: a gas (species 1) before the aqueous phase H2O, A, B (species 2..4).
// Element 1 of the bulk is A; B = 1000 * A^2, so the table holds the difference of
// two speciations, not the speciation of the difference.
class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(LUMORA_TEST_BUILD_DIR) /
              ("export_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        st.WorkDir = dir.string() + "/";
        st.sysRec.spName = {"", "CO2(g)", "H2O", "A", "B"};
        st.sysRec.lastAq = 4;
        st.AqFirst = 2;
        st.AqLast = 4;
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
        for (int j = 1; j <= 2; ++j) {
            st.Bulk(0, j) = kWaterMolality;
            st.BulkCorr(0, j) = kWaterMolality;
        }
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
        // The goal function's concentrations, which the views show.
        st.Conc.Redim(1, 2);
        st.Conc(1, 0) = 0.5;
        st.Conc(1, 1) = 0.6;
        st.Conc(1, 2) = 0.8;
    }

    FakeSolver& Fake() { return static_cast<FakeSolver&>(*st.solver); }
    fs::path File() const { return dir / "Solutions.txt"; }

    State st;
    TestUi ui{st};
    fs::path dir;
};

const char* const kExpected = "\t1\t2\r\n"
                              "H2O\t0.00E+00\t0.00E+00\r\n"
                              "A\t1.23E-03\t2.50E-03\r\n"
                              "B\t1.52E-03\t1.00E-02\r\n";

TEST_F(ExportTest, WritesTheTableByteForByte) {
    ExportSolutions(st);
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_EQ(ReadAll(File()), kExpected);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "File Solutions.txt is written to the working folder  ");
    EXPECT_EQ(ui.messages[0].icon, Icon::Information);
    // Two speciations per solution; the Gibbs energy reaches the solver as a float.
    EXPECT_EQ(Fake().calls, 4);
    ASSERT_EQ(Fake().G().count(4), 1u);
    EXPECT_EQ(Fake().G().at(4), static_cast<float>(-123.456789012345));
    EXPECT_EQ(OtherFiles(dir, "Solutions.txt"), 0); // no temporary left behind
}

TEST_F(ExportTest, LeavesTheGoalFunctionsConcentrationsAlone) {
    Mat<double> before = st.Conc;
    ExportSolutions(st);
    ASSERT_EQ(st.ErrCode, 0);
    EXPECT_TRUE(st.Conc == before);
}

TEST_F(ExportTest, OverwritesAnOldFile) {
    WriteAll(File(), "old contents that are longer than the new table ....................."
                     "......................................................................");
    ExportSolutions(st);
    EXPECT_EQ(ReadAll(File()), kExpected);
}

TEST_F(ExportTest, DensityAndWaterAmountScaleToMolesPerLitre) {
    // Water amount 2 x 55.50843 (2 kg of water): amounts per kg are halved; density 1.25.
    st.Bulk(0, 1) = 2 * kWaterMolality;
    st.BulkCorr(0, 1) = 2 * kWaterMolality;
    st.Bulk(1, 1) = 0.004;
    st.SolDens(1) = 1.25f;
    ExportSolutions(st);
    const std::string text = ReadAll(File());
    // A: 0.004 / 2 * 1.25 = 2.5E-03; B: 1000 * 0.004^2 / 2 * 1.25 = 1.0E-02.
    EXPECT_NE(text.find("A\t2.50E-03\t"), std::string::npos) << text;
    EXPECT_NE(text.find("B\t1.00E-02\t"), std::string::npos) << text;
}

TEST_F(ExportTest, NegativeDifferencesKeepTheirSign) {
    st.BulkCorr(1, 1) = 0.003; // more in the marked rows than in the whole
    ExportSolutions(st);
    const std::string text = ReadAll(File());
    // A: 0.0012345 - 0.003 = -1.7655E-03; B: 1000 * (0.0012345^2 - 0.003^2) = -7.476E-03.
    EXPECT_NE(text.find("A\t-1.77E-03\t"), std::string::npos) << text;
    EXPECT_NE(text.find("B\t-7.48E-03\t"), std::string::npos) << text;
}

struct Stop {
    const char* name;
    long interruptAtYield; ///< 0: none
    long failAtCall;       ///< 0: none
    int16_t errCode;       ///< ErrCode afterwards
    const char* message;   ///< "" for none
};

class ExportStops : public ExportTest, public ::testing::WithParamInterface<Stop> {};

TEST_P(ExportStops, NoFileAndTheOldOneKept) {
    const Stop& p = GetParam();
    WriteAll(File(), "previous export\r\n");
    ui.interruptAtYield = p.interruptAtYield;
    Fake().failAtCall = p.failAtCall;
    Fake().failMessage = "Mass balance not satisfied";
    ExportSolutions(st);
    EXPECT_EQ(st.ErrCode, p.errCode);
    EXPECT_EQ(ReadAll(File()), "previous export\r\n");
    EXPECT_EQ(OtherFiles(dir, "Solutions.txt"), 0);
    if (std::string(p.message).empty()) {
        EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    } else {
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, p.message);
        EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
    }
    // The loop stops at once: no speciation after the stop.
    const long lastCall = p.failAtCall > 0 ? p.failAtCall : p.interruptAtYield;
    EXPECT_EQ(Fake().calls, lastCall);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExportStops,
    ::testing::Values(Stop{"EscDuringTheFirstSpeciation", 1, 0, kInterrupt, ""},
                      Stop{"EscDuringTheLastSpeciation", 4, 0, kInterrupt, ""},
                      Stop{"EngineFailsOnTheFullComposition", 0, 3, -1,
                           "Mass balance not satisfied  "},
                      Stop{"EngineFailsOnTheMarkedRows", 0, 2, -1, "Mass balance not satisfied  "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExportTest, AStrayInterruptBeforeTheStartEndsSilently) {
    st.ErrCode = kInterrupt;
    ExportSolutions(st);
    EXPECT_EQ(st.ErrCode, kInterrupt);
    EXPECT_EQ(Fake().calls, 0);
    EXPECT_FALSE(fs::exists(File()));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ExportTest, EngineFailureWithoutAReasonStillSaysSomething) {
    Fake().failAtCall = 1;
    Fake().failMessage = "";
    ExportSolutions(st);
    EXPECT_EQ(st.ErrCode, -1);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Equilibrium calculation failed  ");
    EXPECT_FALSE(fs::exists(File()));
}

TEST_F(ExportTest, AFolderThatCannotTakeTheFileSaysWhy) {
    // The working folder is a plain file: nothing can be created "in" it.
    WriteAll(dir / "plain", "x");
    st.WorkDir = (dir / "plain").string() + "/";
    ExportSolutions(st);
    EXPECT_EQ(st.ErrCode, -1);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text,
              "Cannot write " + (dir / "plain").string() + "/Solutions.txt: Not a directory  ");
    EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
    EXPECT_EQ(ReadAll(dir / "plain"), "x");
}

TEST_F(ExportTest, AMissingFolderSaysWhy) {
    st.WorkDir = (dir / "gone").string() + "/";
    ExportSolutions(st);
    EXPECT_EQ(st.ErrCode, -1);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find("No such file or directory"), std::string::npos);
}

TEST_F(ExportTest, NoWaterFromTheEngineIsAnErrorNotANumber) {
    st.solver = std::make_unique<FakeSolver>(
        [](const std::map<int16_t, float>&, std::span<const double>, std::span<double> amt) {
            for (double& a : amt) a = 0.0;
        });
    ExportSolutions(st);
    EXPECT_EQ(st.ErrCode, -1);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Cannot export solutions: Division by zero  ");
    EXPECT_FALSE(fs::exists(File()));
}

TEST_F(ExportTest, AnAqueousRangeBeyondTheSpeciesListIsAnErrorNotACrash) {
    st.AqLast = 6; // the record names only 4 species
    ExportSolutions(st);
    EXPECT_EQ(st.ErrCode, -1);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Cannot export solutions: Subscript out of range  ");
    EXPECT_FALSE(fs::exists(File()));
}

} // namespace
} // namespace lumora::test
