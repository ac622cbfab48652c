// The whole main job on generated data sets with known Gibbs energies: read, optimize,
// intervals, save; then the saved workbook is read back from disk.

#include "MakeSet.h"
#include "app/Batch.h"
#include "app/BatchUi.h"
#include "app/HostChoice.h"
#include "dataset/ReadDataSet.h"
#include "engine/EngineFactory.h"
#include "sheet/Worksheet.h"
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

struct BatchRun {
    int exitCode = -1;
    BatchSummary summary;
    std::vector<double> trueG;
    std::string path;
};

// Generates the small example with the given noise into its own folder, with a second
// sheet of the user's, and runs batch read + optimize on it.
BatchRun GenerateAndOptimize(double noise, unsigned seed, const std::string& tag) {
    BatchRun run;
    SetSpec spec;
    std::string error;
    const std::string desc = std::string(LUMORA_EXAMPLES_DIR) + "/co-chloride-25C.toml";
    EXPECT_TRUE(LoadSetSpec(desc, spec, error)) << error;
    spec.noise = noise;
    spec.seed = seed;
    GeneratedSet set;
    EXPECT_TRUE(GenerateSet(spec, LUMORA_EXAMPLES_DIR, set, error)) << error;
    run.trueG = set.trueG;

    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / ("e2e_" + tag);
    fs::remove_all(dir);
    fs::create_directories(dir);
    run.path = (dir / "set.xlsx").string();
    NewSheet notes{
        "Notes", {{CellValue{std::string("keep me")}, CellValue{2.5}}}, {{1, 1, "user note"}}};
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
        cl.batch = true;
        cl.optimize = true;
        cl.workbook = run.path;
        run.exitCode = RunBatchCommands(st, cl, run.summary);
        std::fclose(out);
        std::fclose(err);
    }
    EmbeddedHost::Instance()->CloseAll();
    return run;
}

TEST(BatchEndToEnd, RecoversKnownGibbsEnergiesWithinTheirIntervals) {
    const BatchRun noisy = GenerateAndOptimize(0.002, 3, "noisy");
    const BatchRun quiet = GenerateAndOptimize(0.0005, 3, "quiet");
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
        }
    }
    // Four times less noise gives clearly narrower intervals.
    for (size_t k = 0; k < noisy.summary.species.size(); ++k) {
        if (!noisy.summary.species[k].free) continue;
        EXPECT_LT(quiet.summary.species[k].pm, 0.5 * noisy.summary.species[k].pm)
            << noisy.summary.species[k].name;
    }
    EXPECT_LT(quiet.summary.RmsErr, noisy.summary.RmsErr);
}

TEST(BatchEndToEnd, SavedWorkbookHoldsResultsAndKeepsTheUsersSheet) {
    const BatchRun run = GenerateAndOptimize(0.001, 5, "saved");
    ASSERT_EQ(run.exitCode, 0) << run.summary.ErrMsg;
    std::string error;
    auto book = GridWorkbook::Load(run.path, error);
    ASSERT_TRUE(book) << error;
    ASSERT_EQ(book->WorksheetCount(), 2);
    Worksheet* data = book->Worksheets(1);
    Worksheet* notes = book->Worksheets(2);
    EXPECT_EQ(notes->Value(1, 1), CellValue{std::string("keep me")});
    EXPECT_EQ(notes->Value(1, 2), CellValue{2.5});
    EXPECT_EQ(notes->Comment(1, 1).value_or(""), "user note");
    const int nSp = static_cast<int>(run.summary.species.size());
    for (int i = 1; i <= nSp; ++i) {
        const auto& sp = run.summary.species[static_cast<size_t>(i - 1)];
        const CellValue result = data->Value(9 + i, 4);
        ASSERT_TRUE(std::holds_alternative<double>(result)) << sp.name;
        EXPECT_NEAR(std::get<double>(result), sp.result, 1e-9) << sp.name;
        if (sp.free) {
            const CellValue pm = data->Value(9 + i, 5);
            ASSERT_TRUE(std::holds_alternative<double>(pm)) << sp.name;
            EXPECT_NEAR(std::get<double>(pm), sp.pm, 1e-6 * sp.pm);
            EXPECT_TRUE(std::isfinite(std::get<double>(pm)));
        }
    }
    const CellValue meanErr = data->Value(nSp + 10, 4);
    ASSERT_TRUE(std::holds_alternative<double>(meanErr));
    EXPECT_NEAR(std::get<double>(meanErr), run.summary.RmsErr, 1e-12);
    EXPECT_EQ(data->Value(nSp + 11, 2), CellValue{std::string("Composition, molality")})
        << "the composition header is untouched";
}

TEST(BatchEndToEnd, ExportWritesTheSpeciationTableBesideTheWorkbook) {
    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / "e2e_export";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path book = dir / "co.xlsx";
    fs::copy_file(fs::path(LUMORA_EXAMPLES_DIR) / "co-chloride-25C.xlsx", book);

    EmbeddedHost::Instance()->CloseAll();
    CommandLine cl;
    cl.batch = true;
    cl.exportSolutions = true;
    cl.host = "embedded";
    cl.workbook = book.string();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int code = RunBatch(cl, out, err);
    std::fclose(out);
    std::fclose(err);
    EmbeddedHost::Instance()->CloseAll();
    ASSERT_EQ(code, 0);

    std::ifstream in(dir / "Solutions.txt", std::ios::binary);
    ASSERT_TRUE(in) << "no Solutions.txt beside the workbook";
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), '\r') << "lines end with CR LF";
        lines.push_back(line.substr(0, line.size() - 1));
    }
    // The example: 12 solutions of a Co-Cl system with 12 aqueous species (water first).
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12");
    const std::regex row(R"([^\t]+(\t-?\d[.,]\d\dE[+-]\d\d){12})");
    for (size_t k = 1; k < lines.size(); ++k)
        EXPECT_TRUE(std::regex_match(lines[k], row)) << lines[k];
    EXPECT_EQ(lines[1].substr(0, 4), "H2O\t");
}

} // namespace
} // namespace lumora
