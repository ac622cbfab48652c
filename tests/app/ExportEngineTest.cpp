// The export of the bundled example workbook, read from its .xlsx file with the real
// engine, against a speciation of the same solutions done here directly with a
// second solver: compositions written down from the example's description
// (examples/co-chloride-25C.toml: CoCl2 0.05, NaCl 0 .. 5.5 in steps of 0.5, HCl 0.01
// mol/kg; no marked rows, no densities), so the second run of each solution is pure
// water.

#include "export/ExportSolutions.h"

#include "FuzzyCompare.h"
#include "TestUi.h"
#include "dataset/ReadDataSet.h"
#include "engine/DataPath.h"
#include "engine/EngineFactory.h"
#include "xlsx/EmbeddedHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace lumora::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Split(const std::string& s, const std::string& sep) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t at = s.find(sep, from);
        parts.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return parts;
        from = at + sep.size();
    }
}

TEST(ExportEngine, ExampleWorkbookMatchesADirectSpeciation) {
    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / "export_engine";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy_file(fs::path(LUMORA_EXAMPLES_DIR) / "co-chloride-25C.xlsx", dir / "co.xlsx");

    auto host = std::make_shared<EmbeddedHost>();
    std::string text;
    std::vector<double> g0;
    std::vector<int16_t> spIdx;
    SysRec rec;
    int16_t aqFirst = 0, aqLast = 0;
    {
        State st;
        TestUi ui(st);
        st.solver = CreateSolver();
        st.props = CreateProps();
        st.sysReader = CreateSysReader();
        st.attachHost = [host](bool) { return host; };
        st.WorkDir = dir.string() + "/";
        ui.fileText = "co.xlsx";
        ReadDataSet(st, ui.request());
        ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
        ASSERT_EQ(st.nSol, 12);
        for (int j = 1; j <= st.nSol; ++j) ASSERT_EQ(st.SolDens(j), 1.0f);
        const Mat<double> conc = st.Conc;

        ui.messages.clear();
        ExportSolutions(st);
        ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, "File Solutions.txt is written to the working folder  ");
        EXPECT_TRUE(st.Conc == conc); // the species view still shows the goal function's

        std::ifstream in(dir / "Solutions.txt", std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        text = s.str();
        for (int i = 1; i <= st.nSp; ++i) {
            g0.push_back(st.G0(i));
            spIdx.push_back(st.SpIdx(i));
        }
        rec = st.sysRec;
        aqFirst = st.AqFirst;
        aqLast = st.AqLast;
        st.xlsWatch.reset();
    }
    host->CloseAll();

    // Layout: a header of solution numbers, then one row per aqueous species in system
    // order, CRLF after every line, numbers as d.ddE+dd.
    ASSERT_GE(text.size(), 2u);
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
    std::vector<std::string> lines = Split(text.substr(0, text.size() - 2), "\r\n");
    const int nAq = aqLast - aqFirst + 1;
    ASSERT_EQ(static_cast<int>(lines.size()), 1 + nAq);
    EXPECT_EQ(lines[0], "\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12");
    const std::regex number(R"(-?[0-9]\.[0-9]{2}E[+-][0-9]{2})");

    // The same speciation done directly.
    auto solver = CreateSolver();
    solver->SetOptions("/mode=1");
    solver->OpenDatabase(ResolveDataPath("thermo.toml"));
    solver->OpenSystem(ResolveDataPath("systems/co-na-cl.toml"));
    ASSERT_EQ(solver->LastMessage(), "System file accepted");
    for (size_t i = 0; i < g0.size(); ++i) solver->SetSpeciesG(spIdx[i], static_cast<float>(g0[i]));
    auto element = [&](int z) {
        for (int m = 1; m <= rec.nElem; ++m)
            if (rec.elemCode[static_cast<size_t>(m)] == z) return m;
        return -1;
    };
    const int h = element(1), na = element(11), cl = element(17), co = element(27);
    ASSERT_GT(std::min({h, na, cl, co}), 0);
    std::vector<double> work1(1), work2(static_cast<size_t>(rec.lastAq) + 1);
    std::vector<double> full(work2.size()), water(work2.size());
    auto speciate = [&](const std::vector<double>& bulk, std::vector<double>& amt) {
        int16_t code = 0;
        solver->Equilibrate(25.0f, 1.0f, work1, bulk, amt, work2, code);
        ASSERT_EQ(code, 0) << solver->LastMessage();
    };
    for (int j = 1; j <= 12; ++j) {
        const double nacl = 0.5 * (j - 1);
        std::vector<double> bulk(static_cast<size_t>(rec.nElem) + 1, 0.0);
        bulk[0] = 55.50843;
        std::vector<double> pure = bulk;
        bulk[static_cast<size_t>(co)] = 0.05;
        bulk[static_cast<size_t>(na)] = nacl;
        bulk[static_cast<size_t>(h)] = 0.01;
        bulk[static_cast<size_t>(cl)] = 0.1 + nacl + 0.01;
        speciate(bulk, full);
        speciate(pure, water);
        for (int k = 1; k <= nAq; ++k) {
            const size_t sp = static_cast<size_t>(aqFirst - 1 + k);
            const double expected = 55.50843 / full[static_cast<size_t>(aqFirst)] * full[sp] -
                                    55.50843 / water[static_cast<size_t>(aqFirst)] * water[sp];
            const std::vector<std::string> cells = Split(lines[static_cast<size_t>(k)], "\t");
            ASSERT_EQ(cells.size(), 13u) << lines[static_cast<size_t>(k)];
            EXPECT_EQ(cells[0], rec.spName[sp]);
            const std::string& cell = cells[static_cast<size_t>(j)];
            ASSERT_TRUE(std::regex_match(cell, number)) << cell;
            const double got = std::stod(cell);
            // Three significant digits: within half a unit of the last one (and a
            // hair for the solver's convergence).
            const double unit =
                expected == 0.0 ? 0.0
                                : std::pow(10.0, std::floor(std::log10(std::fabs(expected))) - 2);
            EXPECT_LE(std::fabs(got - expected), 0.51 * unit + 1e-12 + 1e-6 * std::fabs(expected))
                << rec.spName[sp] << " in solution " << j << ": " << cell << " vs " << expected;
        }
    }
}

} // namespace
} // namespace lumora::test
