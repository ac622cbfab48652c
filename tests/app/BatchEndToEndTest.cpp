// The whole main job on real files: generated data sets with known Gibbs energies
// read, optimized and saved in batch mode, the saved workbook read back from disk;
// the batch export of the bundled example against a speciation of the same solutions
// done here directly; and the reader on a real file.

#include "CobaltDataSet.h"
#include "MakeSet.h"
#include "TestUi.h"
#include "app/Batch.h"
#include "app/BatchUi.h"
#include "app/HostChoice.h"
#include "dataset/ReadDataSet.h"
#include "engine/EngineFactory.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridWorkbook.h"
#include "xlsx/XlsxWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

namespace lumora {
namespace {

namespace fs = std::filesystem;

fs::path FreshDir(const std::string& name) {
    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

struct BatchRun {
    int exitCode = -1;
    BatchSummary summary;
    std::vector<double> trueG;
    std::string path;
};

// Generates the small example with the given noise into its own folder, with a second
// sheet of the user's, and runs batch read + optimize on it.
BatchRun GenerateAndOptimize(double noise, const std::string& tag) {
    BatchRun run;
    SetSpec wanted;
    std::string error;
    EXPECT_TRUE(LoadSetSpec(LUMORA_EXAMPLES_DIR "/co-chloride-25C.toml", wanted, error)) << error;
    wanted.noise = noise;
    wanted.seed = 3;
    GeneratedSet set;
    EXPECT_TRUE(GenerateSet(wanted, LUMORA_EXAMPLES_DIR, set, error)) << error;
    run.trueG = set.trueG;
    const fs::path dir = FreshDir("e2e_" + tag);
    run.path = (dir / "set.xlsx").string();
    NewSheet notes{"Notes", {{CellValue{std::string("keep me")}, 2.5}}, {{1, 1, "user note"}}};
    EXPECT_TRUE(WriteNewXlsx(run.path, {{"Data", set.rows, {}}, notes}, error)) << error;

    EmbeddedHost::Instance()->CloseAll();
    {
        State st; // gone before its workbook is closed: the watcher points into it
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        BatchUi ui(out, err);
        st.ui = &ui;
        st.solver = CreateSolver();
        st.props = CreateProps();
        st.sysReader = CreateSysReader();
        st.attachHost = MakeHostAttach("embedded", error);
        st.WorkDir = dir.string() + "/";
        CommandLine cl;
        cl.batch = cl.optimize = true;
        cl.workbook = run.path;
        run.exitCode = RunBatchCommands(st, cl, run.summary);
        std::fclose(out);
        std::fclose(err);
    }
    EmbeddedHost::Instance()->CloseAll();
    return run;
}

TEST(BatchEndToEnd, RecoversKnownGibbsEnergiesWithinTheirIntervalsAndSavesThem) {
    const BatchRun noisy = GenerateAndOptimize(0.002, "noisy");
    const BatchRun quiet = GenerateAndOptimize(0.0005, "quiet");
    for (const BatchRun* run : {&noisy, &quiet}) {
        ASSERT_EQ(run->exitCode, 0) << run->summary.ErrMsg;
        ASSERT_EQ(run->summary.species.size(), run->trueG.size());
        EXPECT_GT(run->summary.iterations, 0);
        for (size_t k = 0; k < run->trueG.size(); ++k) {
            const auto& sp = run->summary.species[k];
            if (!sp.free) {
                EXPECT_EQ(sp.pm, 0.0) << sp.name;
                continue;
            }
            EXPECT_GT(sp.pm, 0.0) << sp.name << ": no interval";
            EXPECT_LE(std::fabs(sp.result - run->trueG[k]), sp.pm)
                << sp.name << " result " << sp.result << " true " << run->trueG[k];
            // Four times less noise gives clearly narrower intervals.
            if (run == &quiet) {
                EXPECT_LT(sp.pm, 0.5 * noisy.summary.species[k].pm) << sp.name;
            }
        }
    }
    EXPECT_LT(quiet.summary.RmsErr, noisy.summary.RmsErr);

    // The saved workbook holds the results and keeps the user's sheet.
    std::string error;
    auto book = GridWorkbook::Load(noisy.path, error);
    ASSERT_TRUE(book) << error;
    ASSERT_EQ(book->WorksheetCount(), 2);
    Worksheet* data = book->Worksheets(1);
    Worksheet* notes = book->Worksheets(2);
    EXPECT_EQ(notes->Value(1, 1), CellValue{std::string("keep me")});
    EXPECT_EQ(notes->Value(1, 2), CellValue{2.5});
    EXPECT_EQ(notes->Comment(1, 1).value_or(""), "user note");
    const int nSp = static_cast<int>(noisy.summary.species.size());
    for (int i = 1; i <= nSp; ++i) {
        const auto& sp = noisy.summary.species[static_cast<size_t>(i - 1)];
        const CellValue result = data->Value(9 + i, 4), pm = data->Value(9 + i, 5);
        ASSERT_TRUE(std::holds_alternative<double>(result)) << sp.name;
        EXPECT_NEAR(std::get<double>(result), sp.result, 1e-9) << sp.name;
        if (!sp.free) continue;
        ASSERT_TRUE(std::holds_alternative<double>(pm)) << sp.name;
        EXPECT_NEAR(std::get<double>(pm), sp.pm, 1e-6 * sp.pm);
    }
    const CellValue meanErr = data->Value(nSp + 10, 4);
    ASSERT_TRUE(std::holds_alternative<double>(meanErr));
    EXPECT_NEAR(std::get<double>(meanErr), noisy.summary.RmsErr, 1e-12);
    EXPECT_EQ(data->Value(nSp + 11, 2), CellValue{std::string("Composition, molality")});
}

std::vector<std::string> Split(const std::string& s, const std::string& sep) {
    std::vector<std::string> parts;
    for (size_t from = 0;;) {
        const size_t at = s.find(sep, from);
        parts.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return parts;
        from = at + sep.size();
    }
}

/// The reader with the real engine and an embedded host of its own on a workbook in dir.
struct RealRead {
    explicit RealRead(const fs::path& dir, const std::string& file) {
        st.solver = CreateSolver();
        st.props = CreateProps();
        st.sysReader = CreateSysReader();
        st.attachHost = [this](bool) { return host; };
        st.WorkDir = dir.string() + "/";
        ui.fileText = file;
    }
    ~RealRead() {
        st.xlsWatch.reset();
        host->CloseAll();
    }
    void Read() {
        ReadDataSet(st, ui.request());
        ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg << (ui.messages.empty() ? "" : ui.messages[0].text);
    }
    /// The index of the element with atomic number z.
    size_t Element(int z) const {
        for (int m = 1; m <= st.nEl; ++m)
            if (st.sysRec.elemCode.at(static_cast<size_t>(m)) == z) return static_cast<size_t>(m);
        ADD_FAILURE() << "no element " << z;
        return 0;
    }
    std::shared_ptr<EmbeddedHost> host = std::make_shared<EmbeddedHost>();
    State st;
    test::TestUi ui{st};
};

// The example's compositions as its description gives them (examples/co-chloride-25C.toml:
// CoCl2 0.05, NaCl 0 .. 5.5 in steps of 0.5, HCl 0.01 mol/kg; no marked rows, no
// densities), so the second speciation of each solution is pure water.
TEST(BatchEndToEnd, ExportWritesTheSpeciationTableBesideTheWorkbook) {
    const fs::path dir = FreshDir("e2e_export");
    fs::copy_file(fs::path(LUMORA_EXAMPLES_DIR) / "co-chloride-25C.xlsx", dir / "co.xlsx");
    EmbeddedHost::Instance()->CloseAll();
    CommandLine cl;
    cl.batch = cl.exportSolutions = true;
    cl.host = "embedded";
    cl.workbook = (dir / "co.xlsx").string();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_EQ(RunBatch(cl, out, err), 0);
    std::fclose(out);
    std::fclose(err);
    EmbeddedHost::Instance()->CloseAll();
    std::ifstream in(dir / "Solutions.txt", std::ios::binary);
    ASSERT_TRUE(in) << "no Solutions.txt beside the workbook";
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    // A header of solution numbers, then one row per aqueous species in system order,
    // CRLF after every line, numbers as d.ddE+dd.
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
    const std::vector<std::string> lines = Split(text.substr(0, text.size() - 2), "\r\n");
    EXPECT_EQ(lines[0], "\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12");
    const std::regex number(R"(-?[0-9]\.[0-9]{2}E[+-][0-9]{2})");

    // The same speciation done here with the engine, Gibbs energies and system the reader
    // finds in the workbook, and the compositions written out by hand.
    RealRead r(dir, "co.xlsx");
    r.Read();
    State& st = r.st;
    const int nAq = st.AqLast - st.AqFirst + 1;
    ASSERT_EQ(st.nSol, 12);
    ASSERT_EQ(static_cast<int>(lines.size()), 1 + nAq);
    Solver* solver = st.solver.get(); // the database and system the reader opened
    for (int i = 1; i <= st.nSp; ++i)
        solver->SetSpeciesG(st.SpIdx(i), static_cast<float>(st.G0(i)));
    const size_t h = r.Element(1), na = r.Element(11), cl_ = r.Element(17), co = r.Element(27);
    std::vector<double> work1(1), work2(static_cast<size_t>(st.sysRec.lastAq) + 1);
    std::vector<double> full(work2.size()), water(work2.size());
    auto speciate = [&](const std::vector<double>& bulk, std::vector<double>& amt) {
        int16_t rc = 0;
        solver->Equilibrate(25.0f, 1.0f, work1, bulk, amt, work2, rc);
        ASSERT_EQ(rc, 0) << solver->LastMessage();
    };
    for (int j = 1; j <= 12; ++j) {
        ASSERT_EQ(st.SolDens(j), 1.0f);
        const double nacl = 0.5 * (j - 1);
        std::vector<double> bulk(static_cast<size_t>(st.nEl) + 1, 0.0);
        bulk[0] = 55.50843;
        speciate(bulk, water);
        bulk[co] = 0.05;
        bulk[na] = nacl;
        bulk[h] = 0.01;
        bulk[cl_] = 0.1 + nacl + 0.01;
        // The reader's element amounts follow the formulas.
        for (size_t m = 0; m < bulk.size(); ++m)
            EXPECT_NEAR(st.Bulk(static_cast<int>(m), j), bulk[m], 1e-6) << m << ", " << j;
        speciate(bulk, full);
        const size_t w = static_cast<size_t>(st.AqFirst);
        for (int k = 1; k <= nAq; ++k) {
            const size_t sp = w - 1 + static_cast<size_t>(k);
            const double expected = 55.50843 / full[w] * full[sp] - 55.50843 / water[w] * water[sp];
            const std::vector<std::string> cells = Split(lines[static_cast<size_t>(k)], "\t");
            ASSERT_EQ(cells.size(), 13u) << lines[static_cast<size_t>(k)];
            EXPECT_EQ(cells[0], st.sysRec.spName[sp]);
            const std::string& cell = cells[static_cast<size_t>(j)];
            ASSERT_TRUE(std::regex_match(cell, number)) << cell;
            // Three significant digits: within half a unit of the last one (and a hair
            // for the solver's convergence).
            const double unit =
                expected == 0.0 ? 0.0
                                : std::pow(10.0, std::floor(std::log10(std::fabs(expected))) - 2);
            EXPECT_LE(std::fabs(std::stod(cell) - expected),
                      0.51 * unit + 1e-12 + 1e-6 * std::fabs(expected))
                << cells[0] << " in solution " << j << ": " << cell << " vs " << expected;
        }
    }
}

// A data set with a marked ("corrected") HCl row, read from a real file: the marked row
// alone in the corrected amounts, what the reader writes reaches the file, and a read
// after another program saved the file reloads the open workbook.
TEST(ReadDataSetFile, MarkedRowsWriteBackAndReloadAfterAnotherProgramSaved) {
    const fs::path dir = FreshDir("reader-e2e");
    const std::string path = (dir / "co.xlsx").string();
    std::string error;
    {
        GridWorkbook book(path);
        test::WriteCobaltDataSet(*book.AddSheet("Data"));
        ASSERT_TRUE(book.Save(error)) << error;
    }
    RealRead r(dir, "co.xlsx");
    r.Read();
    State& st = r.st;
    EXPECT_EQ(st.sysRec.spName.at(st.SpIdx(2)), "CoCl4-2");
    const size_t cl = r.Element(17), co = r.Element(27);
    for (int j = 1; j <= test::kSolMax; ++j) {
        EXPECT_NEAR(st.Bulk(static_cast<int>(cl), j), 0.1 + test::kNaCl[j - 1] + 0.01, 1e-6);
        EXPECT_NEAR(st.BulkCorr(static_cast<int>(cl), j), 0.01, 1e-6);
        EXPECT_EQ(st.BulkCorr(static_cast<int>(co), j), 0.0);
    }
    EXPECT_EQ(r.ui.statuses.back().rfind("Initial data set.    Error: ", 0), 0u);

    ASSERT_TRUE(st.xlBook->Save(error)) << error;
    auto again = GridWorkbook::Load(path, error);
    ASSERT_TRUE(again) << error;
    Worksheet* sh = again->Worksheets(1);
    EXPECT_EQ(std::get<double>(sh->Value(10, 3)), static_cast<double>(st.G0Init(1)));
    EXPECT_DOUBLE_EQ(std::get<double>(sh->Value(12, 3)), st.RmsErr);
    sh->SetValue(20, 2, 0.375);
    ASSERT_TRUE(again->Save(error)) << error;
    r.Read();
    EXPECT_EQ(st.AbsM(1, 1), 0.375);
    EXPECT_EQ(r.host->WorkbookCount(), 1);
}

} // namespace
} // namespace lumora
