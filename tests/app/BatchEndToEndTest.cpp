// The main job on real files: generated data sets with known Gibbs energies optimized and
// saved in batch mode; the batch export against a speciation of the same solutions.

#include "MakeSet.h"
#include "TestUi.h"
#include "WorkbookFiles.h"
#include "app/Batch.h"
#include "app/BatchUi.h"
#include "app/HostChoice.h"
#include "dataset/OptimizeCommand.h"
#include "dataset/ReadDataSet.h"
#include "engine/EngineFactory.h"
#include "fit/BuildGaussians.h"
#include "import/ImportDataSet.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/GridWorkbook.h"
#include "xlsx/XlsxWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
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

/// The real engine and the embedded host, working in dir.
void UseEngine(State& st, const fs::path& dir) {
    st.solver = CreateSolver();
    st.props = CreateProps();
    st.sysReader = CreateSysReader();
    std::string error;
    st.attachHost = MakeHostAttach("embedded", error);
    st.WorkDir = dir.string() + "/";
}

/// lumora --batch path [--optimize [--method M]] on the real engine; the exit code.
int Batch(const std::string& path, bool optimize, BatchSummary& summary,
          std::optional<FitMethod> method = std::nullopt,
          std::optional<IntervalMethod> intervals = std::nullopt, CommandLine cl = {}) {
    int exitCode = -1;
    {
        State st; // gone before its workbook is closed: the watcher points into it
        std::FILE* out = std::tmpfile();
        BatchUi ui(out, out);
        st.ui = &ui;
        UseEngine(st, fs::path(path).parent_path());
        cl.batch = true, cl.optimize = optimize, cl.method = method, cl.intervals = intervals;
        cl.workbook = path;
        exitCode = RunBatchCommands(st, cl, summary);
        std::fclose(out);
    }
    EmbeddedHost::Instance()->CloseAll();
    return exitCode;
}

struct BatchRun {
    int exitCode = -1;
    BatchSummary summary;
    std::vector<double> trueG;
    std::string path;
};

// The example generated with the given noise, and a sheet of the user's; batch optimize.
BatchRun GenerateAndOptimize(double noise, const std::string& tag,
                             std::optional<FitMethod> method = std::nullopt) {
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

    run.exitCode = Batch(run.path, true, run.summary, method);
    return run;
}

TEST(BatchEndToEnd, RecoversKnownGibbsEnergiesWithinTheirIntervalsAndSavesThem) {
    const BatchRun noisy = GenerateAndOptimize(0.002, "noisy");
    const BatchRun quiet = GenerateAndOptimize(0.0005, "quiet");
    const BatchRun lm = GenerateAndOptimize(0.002, "lm", FitMethod::LevenbergMarquardt);
    for (const BatchRun* run : {&noisy, &quiet, &lm}) {
        ASSERT_EQ(run->exitCode, 0) << run->summary.ErrMsg;
        ASSERT_EQ(run->summary.species.size(), run->trueG.size());
        for (size_t k = 0; k < run->trueG.size(); ++k) {
            const auto& sp = run->summary.species[k];
            EXPECT_EQ(sp.pm > 0.0, sp.free) << sp.name << ": an interval only for a free one";
            if (!sp.free) continue;
            EXPECT_LE(std::fabs(sp.result - run->trueG[k]), sp.pm)
                << sp.name << " result " << sp.result << " true " << run->trueG[k];
            // Four times less noise gives clearly narrower intervals; the other method the
            // same minimum.
            const auto& other = noisy.summary.species[k];
            EXPECT_TRUE(run != &quiet || sp.pm < 0.5 * other.pm) << sp.name;
            EXPECT_TRUE(run != &lm || std::fabs(sp.result - other.result) < 0.05 * other.pm);
        }
    }
    // log K of Co+2 + Cl- = CoCl+ by hand, with the published G of Cl- at 25 C (-31,379
    // cal/mol, SUPCRT92) and the sheet's G of Co+2.
    const auto& co = noisy.summary.species.at(0);
    const auto& cocl = noisy.summary.species.at(1);
    ASSERT_EQ(cocl.name, "CoCl+");
    ASSERT_TRUE(cocl.logK);
    const double rtLn10 = 8.31446e-3 * 298.15 * std::log(10.0);
    EXPECT_NEAR(*cocl.logK, -(cocl.result - co.result + 31.379 * 4.184) / rtLn10, 1e-3);
    EXPECT_LT(quiet.summary.RmsErr, noisy.summary.RmsErr);
    EXPECT_LE(lm.summary.RmsErr, noisy.summary.RmsErr * (1.0 + 1e-9));

    // The saved workbook holds the results and keeps the user's sheet.
    auto book = test::LoadOk(noisy.path);
    ASSERT_EQ(book->WorksheetCount(), 2);
    Worksheet* data = book->Worksheets(1);
    Worksheet* notes = book->Worksheets(2);
    EXPECT_EQ(notes->Block(1, 1, 1, 2),
              (std::vector<std::vector<CellValue>>{{std::string("keep me"), 2.5}}));
    EXPECT_EQ(notes->Comment(1, 1), "user note");
    const int nSp = static_cast<int>(noisy.summary.species.size());
    for (int i = 1; i <= nSp; ++i) {
        const auto& sp = noisy.summary.species[static_cast<size_t>(i - 1)];
        EXPECT_NEAR(std::get<double>(data->Value(9 + i, 4)), sp.result, 1e-9) << sp.name;
        EXPECT_NEAR(sp.free ? std::get<double>(data->Value(9 + i, 5)) : 0.0, sp.pm, 1e-6 * sp.pm);
    }
    EXPECT_NEAR(std::get<double>(data->Value(nSp + 10, 4)), noisy.summary.RmsErr, 1e-12);

    // A plain read keeps the saved results: the file stays byte for byte. So does a failed
    // read (which reports no half-read species) and a run with every species fixed by a
    // "Result" value, which is no success.
    const std::string saved = test::ReadBytes(noisy.path);
    BatchSummary s;
    EXPECT_EQ(Batch(noisy.path, false, s), 0);
    EXPECT_EQ(test::ReadBytes(noisy.path), saved);
    const auto edited = [&](int row, int col, CellValue v) {
        std::string error;
        auto b = test::LoadOk(noisy.path);
        b->Worksheets(1)->SetValue(row, col, v);
        ASSERT_TRUE(b->Save(error)) << error;
    };
    edited(10, 3, std::string("-188,7"));
    const std::string mistyped = test::ReadBytes(noisy.path);
    EXPECT_EQ(Batch(noisy.path, true, s), 2);
    EXPECT_TRUE(s.species.empty() && test::ReadBytes(noisy.path) == mistyped);
    edited(10, 3, std::get<double>(data->Value(10, 3)));
    for (int i = 1; i <= nSp; ++i) edited(9 + i, 4, -100.0 * i);
    EXPECT_EQ(Batch(noisy.path, true, s), 1);
    EXPECT_TRUE(s.ErrMsg.starts_with("Nothing to optimize (fixed by a value in \"Result\": "))
        << s.ErrMsg;
}

/// The windows' way on a workbook: read, the choice (factors, or "Build" in the fitting
/// mode), save (a copy as chosen.xlsx beside it), then the same "Optimize". The free
/// species' energies.
std::vector<double> ChooseThenOptimize(const std::string& book,
                                       const std::function<void(State&)>& choose) {
    State st;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> log(std::tmpfile(), std::fclose);
    BatchUi ui(log.get(), log.get());
    st.ui = &ui;
    const fs::path dir = fs::path(book).parent_path();
    UseEngine(st, dir);
    ReadRequest request;
    request.fileName = fs::path(book).filename().string();
    ReadDataSet(st, request);
    EXPECT_EQ(st.ErrCode, 0) << st.ErrMsg;
    choose(st);
    std::string error;
    EXPECT_TRUE(st.xlBook->Save(error)) << error;
    fs::copy_file(book, dir / "chosen.xlsx", fs::copy_options::overwrite_existing);
    st.solver->SetControl(27, 0);
    OptimizeCommand(st, request, {}, std::nullopt);
    std::vector<double> g;
    for (int i = 1; i <= st.nSp; ++i)
        if (st.SpFree(i)) g.push_back(st.G0(i));
    EmbeddedHost::Instance()->CloseAll();
    return g;
}

// --gauss: the band table "Build" left on the sheet, refined as "Optimize" does in the
// fitting mode.
TEST(BatchEndToEnd, GaussianModeAsTheFittingWindowLeavesIt) {
    const fs::path dir = FreshDir("e2e_gauss");
    const std::string book = (dir / "co.xlsx").string();
    fs::copy_file(LUMORA_EXAMPLES_DIR "/co-chloride-25C.xlsx", book);
    const std::vector<double> byWindows = ChooseThenOptimize(book, [](State& st) {
        st.RefEps = st.Eps; // the fitting window's reference curves
        BuildGaussians(st, 33);
        EXPECT_EQ(st.FitMode, 1);
    });
    CommandLine cl;
    cl.gauss = true;
    BatchSummary s;
    ASSERT_EQ(Batch((dir / "chosen.xlsx").string(), true, s, std::nullopt, std::nullopt, cl), 0)
        << s.ErrMsg;
    ASSERT_EQ(byWindows.size(), 2u);
    for (size_t k = 0; k < 2; ++k) EXPECT_NEAR(byWindows[k], s.species[k + 1].result, 1e-9);
}

// The host-guest example in its two commands: import, then optimize. The refined log K
// lie within their 95 % intervals of the generating 4.30 and 7.00; with the partners'
// energies fixed at 0, log K = -G / (RT ln 10) and its half-width pm / (RT ln 10). The
// mean error exceeds the plain RMS by sqrt(nSol / (nSol - nSp)) (equal weights, no
// missing values).
TEST(BatchEndToEnd, HostGuestTitrationFromCsvToLogK) {
    const fs::path dir = FreshDir("e2e_host_guest");
    const fs::path example = fs::path(LUMORA_EXAMPLES_DIR) / "host-guest-titration";
    for (const char* f : {"host-guest.toml", "host-guest-system.toml"})
        fs::copy_file(example / f, dir / f);
    const std::string book = (dir / "titration.xlsx").string();
    // A fresh workbook: a run's results would fix every species on the next.
    const auto imported = [&] {
        std::string error;
        EXPECT_TRUE(ImportDataSet((example / "titration.csv").string(),
                                  (example / "titration.toml").string(), book, true, error))
            << error;
    };
    imported();
    BatchSummary s;
    ASSERT_EQ(Batch(book, true, s), 0) << s.ErrMsg;
    const double rtLn10 = 8.31446261815324e-3 * 298.15 * std::log(10.0);
    const double published[] = {0, 4.30, 7.00};
    ASSERT_EQ(s.species.size(), 3u);
    EXPECT_FALSE(s.species[0].logK) << "the host is a basis species";
    for (size_t k = 1; k < 3; ++k) {
        const auto& sp = s.species[k];
        ASSERT_TRUE(sp.logK && sp.logK_pm) << sp.name;
        EXPECT_NEAR(*sp.logK, -sp.result / rtLn10, 1e-9) << sp.name;
        EXPECT_NEAR(*sp.logK_pm, sp.pm / rtLn10, 1e-9) << sp.name;
        EXPECT_LE(std::fabs(*sp.logK - published[k]), *sp.logK_pm) << sp.name;
    }
    EXPECT_NEAR(s.RmsErr / s.rms, std::sqrt(17.0 / 14.0), 1e-6);

    // --factors: as the factor window's choice before "Optimize" (nFactors set, then the
    // same command), and refused beyond what the window offers; --gauss without a band
    // table on the sheet is refused rather than run in the normal mode.
    const auto run = [&](int16_t factors, bool gauss, BatchSummary& out) {
        CommandLine cl;
        cl.factors = factors, cl.gauss = gauss;
        imported();
        return Batch(book, true, out, std::nullopt, std::nullopt, cl);
    };
    BatchSummary reduced, tooMany, gauss;
    ASSERT_EQ(run(3, false, reduced), 0) << reduced.ErrMsg;
    EXPECT_NE(reduced.RmsErr, s.RmsErr);
    imported();
    const std::vector<double> byFactors =
        ChooseThenOptimize(book, [](State& st) { st.nFactors = 3; });
    for (size_t k = 0; k < 2; ++k) EXPECT_NEAR(byFactors[k], reduced.species[k + 1].result, 1e-9);
    EXPECT_EQ(run(17, false, tooMany), 2);
    EXPECT_EQ(tooMany.ErrMsg, "--factors 17: these data allow 1 to 16 factors");
    EXPECT_EQ(run(0, true, gauss), 2);
    EXPECT_EQ(gauss.ErrMsg, "--gauss: no Gaussian band table could be loaded from the sheet");
}

// The bundled examples: Levenberg-Marquardt ends no higher than the descent method, and
// at 250 C where that stops short, at the lower minimum a Nelder-Mead search finds from
// its end point (0.0005174 against 0.0005179).
TEST(BatchEndToEnd, LevenbergMarquardtReachesTheMinimaOfTheExamples) {
    const fs::path dir = FreshDir("e2e_examples");
    const auto run = [&](const std::string& example, FitMethod method) {
        const fs::path copy = dir / (example + ".xlsx");
        fs::copy_file(fs::path(LUMORA_EXAMPLES_DIR) / copy.filename(), copy,
                      fs::copy_options::overwrite_existing);
        BatchSummary s;
        EXPECT_EQ(Batch(copy.string(), true, s, method), 0) << example;
        return s;
    };
    // The descent method's path stays the one the README shows (57 iterations at 25 C); at
    // 250 C the failed Hessian is explained by J'J (4 evaluations).
    const std::map<std::string, std::pair<int, long>> path = {{"co-chloride-25C", {57, 411}},
                                                              {"co-chloride-250C", {53, 503}}};
    for (const char* example : {"co-chloride-25C", "co-chloride-250C"}) {
        const BatchSummary lm = run(example, FitMethod::LevenbergMarquardt);
        const BatchSummary descent = run(example, FitMethod::Descent);
        EXPECT_EQ(std::pair(descent.iterations, descent.evaluations), path.at(example));
        EXPECT_LE(lm.RmsErr, descent.RmsErr) << example;
        EXPECT_LT(lm.evaluations, descent.evaluations / 2) << example;
    }
    EXPECT_LT(run("co-chloride-250C", FitMethod::LevenbergMarquardt).RmsErr, 0.00051745);
}

std::vector<std::string> Split(const std::string& s, const std::string& sep) {
    const std::regex re(sep);
    return {std::sregex_token_iterator(s.begin(), s.end(), re, -1), {}};
}

// The example's compositions from its description (co-chloride-25C.toml: CoCl2 0.05, NaCl
// 0 .. 5.5 by 0.5, HCl 0.01 mol/kg; no marked rows), so the second speciation is water.
// The 250 C example, where one combination of the three complexes is all but undetermined:
// the Hessian's intervals fail and name the species; the profiles bound every complex
// around its true energy (the database value, "Initial", plus the description's shift),
// and the half-widths they write read back as probe scales without a note.
TEST(BatchEndToEnd, IntervalsOfThe250CExample) {
    const fs::path dir = FreshDir("e2e_250C");
    const auto run = [&](IntervalMethod method, const std::string& name) {
        const fs::path copy = dir / name;
        fs::copy_file(LUMORA_EXAMPLES_DIR "/co-chloride-250C.xlsx", copy);
        BatchSummary s;
        EXPECT_EQ(Batch(copy.string(), true, s, FitMethod::LevenbergMarquardt, method), 0);
        return std::pair(s, copy.string());
    };
    const BatchSummary hessian = run(IntervalMethod::Hessian, "hessian.xlsx").first;
    EXPECT_EQ(hessian.intervalNote, "Could not estimate intervals\nCoCl2(aq), CoCl+ and CoCl4-2 "
                                    "cannot be told apart by these data");
    for (size_t i = 1; i < hessian.species.size(); ++i) // no interval: no made-up precision
        EXPECT_TRUE(hessian.species[i].logK && !hessian.species[i].logK_pm);
    const auto [profile, path] = run(IntervalMethod::Profile, "profile.xlsx");
    EXPECT_EQ(profile.intervalNote, "");
    const double shift[] = {0.0, 1.0, 1.5, -2.0}; // examples/co-chloride-250C.toml
    ASSERT_EQ(profile.species.size(), 4u);
    ASSERT_EQ(profile.correlation.size(), 3u);
    for (size_t i = 1; i < 4; ++i) {
        const auto& sp = profile.species[i];
        SCOPED_TRACE(sp.name);
        ASSERT_TRUE(sp.lo && sp.hi && sp.determined);
        EXPECT_LT(*sp.lo, sp.initial + shift[i]);
        EXPECT_GT(*sp.hi, sp.initial + shift[i]);
        EXPECT_FLOAT_EQ(sp.pm, std::max(*sp.hi - sp.result, sp.result - *sp.lo));
        for (size_t k = 0; k < 3; ++k) {
            EXPECT_DOUBLE_EQ(profile.correlation[i - 1][k], profile.correlation[k][i - 1]);
            EXPECT_LE(std::fabs(profile.correlation[i - 1][k]), 1.0 + 1e-12);
        }
        EXPECT_NEAR(profile.correlation[i - 1][i - 1], 1.0, 1e-12);
    }
    BatchSummary reread;
    EXPECT_EQ(Batch(path, false, reread), 0);
    EXPECT_TRUE(reread.notes.empty());
}

TEST(BatchEndToEnd, ExportWritesTheSpeciationTableBesideTheWorkbook) {
    const fs::path dir = FreshDir("e2e_export");
    fs::copy_file(fs::path(LUMORA_EXAMPLES_DIR) / "co-chloride-25C.xlsx", dir / "co.xlsx");
    CommandLine cl;
    cl.batch = cl.exportSolutions = true;
    cl.host = "embedded";
    cl.workbook = (dir / "co.xlsx").string();
    std::FILE* out = std::tmpfile();
    ASSERT_EQ(RunBatch(cl, out, out), 0);
    std::fclose(out);
    const std::string text = test::ReadBytes((dir / "Solutions.txt").string());
    // Solution numbers, a row per aqueous species in system order, CRLF, d.ddE+dd numbers.
    ASSERT_TRUE(text.ends_with("\r\n")) << "no Solutions.txt beside the workbook: " << text;
    const std::vector<std::string> lines = Split(text.substr(0, text.size() - 2), "\r\n");
    EXPECT_EQ(lines[0], "\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12");
    const std::regex number(R"(-?[0-9]\.[0-9]{2}E[+-][0-9]{2})");

    // The same speciation here: the engine, energies and system the reader finds, by hand.
    State st;
    test::TestUi ui{st};
    UseEngine(st, dir);
    ui.fileText = "co.xlsx";
    ReadDataSet(st, ui.request());
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg;
    const int nAq = st.AqLast - st.AqFirst + 1;
    ASSERT_EQ(st.nSol, 12);
    ASSERT_EQ(static_cast<int>(lines.size()), 1 + nAq);
    for (int i = 1; i <= st.nSp; ++i)
        st.solver->SetSpeciesG(st.SpIdx(i), static_cast<float>(st.G0(i)));
    std::map<int, size_t> element; // by atomic number
    for (int m = 1; m <= st.nEl; ++m) element[st.sysRec.elemCode.at(size_t(m))] = size_t(m);
    const size_t h = element.at(1), na = element.at(11), cl_ = element.at(17), co = element.at(27);
    std::vector<double> work1(1), work2(static_cast<size_t>(st.sysRec.lastAq) + 1);
    std::vector<double> full(work2.size()), water(work2.size());
    auto speciate = [&](const std::vector<double>& bulk, std::vector<double>& amt) {
        int16_t rc = 0;
        st.solver->Equilibrate(25.0f, 1.0f, work1, bulk, amt, work2, rc);
        ASSERT_EQ(rc, 0) << st.solver->LastMessage();
    };
    for (int j = 1; j <= 12; ++j) {
        ASSERT_EQ(st.SolDens(j), 1.0f);
        const double nacl = 0.5 * (j - 1);
        std::vector<double> bulk(static_cast<size_t>(st.nEl) + 1, 0.0);
        bulk[0] = 55.50843;
        speciate(bulk, water);
        bulk[co] = 0.05, bulk[na] = nacl, bulk[h] = 0.01, bulk[cl_] = 0.1 + nacl + 0.01;
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
            // Three significant digits: half a unit of the last (and a hair for convergence).
            const double unit =
                expected == 0.0 ? 0.0
                                : std::pow(10.0, std::floor(std::log10(std::fabs(expected))) - 2);
            EXPECT_LE(std::fabs(std::stod(cell) - expected),
                      0.51 * unit + 1e-12 + 1e-6 * std::fabs(expected))
                << cells[0] << " in solution " << j << ": " << cell << " vs " << expected;
        }
    }
    st.xlsWatch.reset();
    EmbeddedHost::Instance()->CloseAll();
}

} // namespace
} // namespace lumora
