// The LibreOffice host against a real headless office that the suite starts
// once (with a private profile) and ends at the end. Data sets are written as
// .xlsx by the program's own writer and converted to .xls and .ods by the same
// office; what the host saves is checked by converting it back to .xlsx and
// reading that with the embedded host's reader, so each check has an
// independent side.

#include "lohost/LibreOfficeHost.h"
#include "FuzzyCompare.h"
#include "TestUi.h"
#include "WorkbookFiles.h"
#include "dataset/OptimizeCommand.h"
#include "dataset/ReadDataSet.h"
#include "engine/EngineFactory.h"
#include "model/ReadFixedMarks.h"
#include "sheet/SheetWatcher.h"
#include "xlsx/GridWorkbook.h"
#include "xlsx/XlsxWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace lumora::test {
namespace {

namespace fs = std::filesystem;
using S = std::string;

/// The office of the suite.
class Office : public ::testing::Environment {
public:
    static inline LibreOfficeOptions options;
    /// Why the suite cannot run ("" when the office is up).
    static inline std::string unavailable;
    static inline std::string dir;

    void SetUp() override {
        dir = (fs::temp_directory_path() / ("lumora-lo-" + std::to_string(getpid()))).string();
        fs::remove_all(dir);
        fs::create_directories(dir);
        options.pipe = "lumora-test-" + std::to_string(getpid());
        options.headless = true;
        options.profileDir = dir + "/profile";
        if (std::system("command -v soffice >/dev/null 2>&1") != 0) {
            unavailable = "soffice is not installed";
            return;
        }
        std::string error;
        if (!StartLibreOffice(options, error)) {
            unavailable = error;
            return;
        }
        for (int i = 0; i < 600 && !LibreOfficeAnswers(options); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (!LibreOfficeAnswers(options)) unavailable = "the started office did not answer";
        setenv("LUMORA_LO_PIPE", options.pipe.c_str(), 1);
    }

    void TearDown() override {
        std::string error;
        if (unavailable.empty()) TerminateLibreOffice(options, error);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    /// Converts a file with an office of its own (one with the suite's profile would
    /// hand the job to the suite's office, which then ends); the new file's path, ""
    /// on failure.
    static std::string Convert(const std::string& file, const std::string& ext,
                               const std::string& outDir) {
        const std::string cmd = "soffice -env:UserInstallation=file://" + dir + "/convert" +
                                " --headless --convert-to " + ext + " --outdir '" + outDir + "' '" +
                                file + "' >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0) return "";
        const std::string out = outDir + "/" + fs::path(file).stem().string() + "." + ext;
        return fs::exists(out) ? out : "";
    }
};

#define REQUIRE_OFFICE()                                                                           \
    if (!Office::unavailable.empty()) GTEST_SKIP() << "No LibreOffice: " << Office::unavailable

constexpr int kSol = 6;
const double kNaCl[kSol] = {0.0, 1.0, 2.0, 3.0, 4.0, 5.0};
constexpr int kFirstWlRow = 19;
constexpr int kWlCount = 25; // 480 .. 720 nm

double Absorbance(int w, int j) {
    const double wl = 480.0 + 10.0 * w;
    return 0.02 + 0.05 * kNaCl[j] * std::exp(-std::pow((wl - 690.0) / 40.0, 2)) + 0.001 * j;
}

/// Co(II) in NaCl-HCl at 25 C, with CoCl+ and CoCl4-2 refined, as the reader wants it;
/// a comment marks a band parameter cell.
NewSheet DataSet() {
    NewSheet sh;
    sh.name = "Data";
    auto& r = sh.rows;
    // Texts by row ("" leaves the cell empty); numbers are added below.
    const std::vector<std::vector<const char*>> texts = {{"Co(II) chloride through LibreOffice"},
                                                         {"Database:", "thermo.toml"},
                                                         {"System:", "systems/co-na-cl.toml"},
                                                         {"Options:"},
                                                         {"T, C:"},
                                                         {"P, bar:"},
                                                         {"wl_start:"},
                                                         {"wl_stop:"},
                                                         {"Species:"},
                                                         {"", "CoCl+"},
                                                         {"", "CoCl4-2"},
                                                         {"Mean err.:"},
                                                         {"", "Composition, molality"},
                                                         {"CoCl2"},
                                                         {"NaCl"},
                                                         {"HCl"},
                                                         {"", "Absorption spectra"},
                                                         {"Wave"}};
    for (const auto& row : texts) {
        r.emplace_back();
        for (const char* t : row) r.back().push_back(*t ? CellValue(S(t)) : CellValue());
    }
    r[4].push_back(25.0);
    r[5].push_back(1.0);
    r[6].push_back(500.0);
    r[7].push_back(700.0);
    r[8].push_back(2.0);
    for (const char* t : {"Initial", "Result", " \u00B1"}) r[8].push_back(S(t));
    for (int j = 0; j < kSol; ++j) {
        r[13].push_back(0.05);
        r[14].push_back(kNaCl[j]);
        r[15].push_back(0.01);
        r[17].push_back("S" + std::to_string(j + 1));
    }
    r[15].push_back(S("corrected"));
    for (int w = 0; w < kWlCount; ++w) {
        std::vector<CellValue> row(kSol + 1);
        row[0] = 480.0 + 10.0 * w;
        for (int j = 0; j < kSol; ++j) row[static_cast<size_t>(j) + 1] = Absorbance(w, j);
        r.push_back(std::move(row));
    }
    sh.comments = {{10, 8, "fixed"}};
    return sh;
}

/// The data set in the three formats, made once for the suite.
struct Fixtures {
    std::string xlsx, xls, ods;
};

const Fixtures& DataSetFiles() {
    static Fixtures f = [] {
        Fixtures x;
        const std::string src = Office::dir + "/src";
        fs::create_directories(src);
        x.xlsx = src + "/co.xlsx";
        std::string error;
        EXPECT_TRUE(WriteNewXlsx(x.xlsx, {DataSet()}, error)) << error;
        x.xls = Office::Convert(x.xlsx, "xls", src);
        x.ods = Office::Convert(x.xlsx, "ods", src);
        return x;
    }();
    return f;
}

/// A copy of a fixture in a folder of its own (tests write into their workbooks).
std::string CopyOf(const std::string& file, const std::string& name) {
    const std::string folder = Office::dir + "/" + name;
    fs::create_directories(folder);
    const std::string to = folder + "/" + fs::path(file).filename().string();
    fs::copy_file(file, to, fs::copy_options::overwrite_existing);
    return to;
}

std::shared_ptr<LibreOfficeHost> Host() {
    std::string error;
    auto host = LibreOfficeHost::Connect(Office::options, false, error);
    EXPECT_TRUE(host) << error;
    return host;
}

/// The saved file read back independently: converted to .xlsx by the office, loaded
/// by the embedded reader.
std::unique_ptr<GridWorkbook> ReadBack(const std::string& file) {
    const std::string out = Office::dir + "/readback-" + std::to_string(std::rand());
    fs::create_directories(out);
    const std::string xlsx = Office::Convert(file, "xlsx", out);
    EXPECT_FALSE(xlsx.empty()) << "conversion of " << file << " failed";
    std::string error;
    auto book = GridWorkbook::Load(xlsx, error);
    EXPECT_TRUE(book) << error;
    return book;
}

bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 100; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

TEST(LibreOfficeHost, OpensEachFormatAndReadsEveryCell) {
    REQUIRE_OFFICE();
    const Fixtures& f = DataSetFiles();
    ASSERT_FALSE(f.xls.empty());
    ASSERT_FALSE(f.ods.empty());
    auto host = Host();
    ASSERT_TRUE(host);
    EXPECT_EQ(host->HostName(), "LibreOffice");
    EXPECT_EQ(host->Extensions(), (std::vector<S>{".xls", ".xlsx", ".ods"}));
    const NewSheet expected = DataSet();
    for (const std::string& file : {f.xlsx, f.xls, f.ods}) {
        SCOPED_TRACE(file);
        std::string error;
        Workbook* book = host->Open(CopyOf(file, "read"), error);
        ASSERT_TRUE(book) << error;
        EXPECT_EQ(book->Name(), fs::path(file).filename().string());
        EXPECT_EQ(host->ActiveWorkbook(), book);
        EXPECT_EQ(book->WorksheetCount(), 1);
        Worksheet* sheet = book->ActiveSheet();
        ASSERT_TRUE(sheet);
        EXPECT_EQ(sheet->Name(), "Data");
        EXPECT_EQ(sheet->Parent(), book);
        EXPECT_EQ(book->Worksheets(1), sheet);
        EXPECT_EQ(book->Worksheets(2), nullptr);
        // Every cell, and the empty ones around the data.
        for (size_t i = 0; i < expected.rows.size(); ++i)
            for (size_t j = 0; j < expected.rows[i].size() + 2; ++j) {
                const int row = static_cast<int>(i) + 1, col = static_cast<int>(j) + 1;
                const CellValue want =
                    j < expected.rows[i].size() ? expected.rows[i][j] : CellValue{};
                const CellValue got = sheet->Value(row, col);
                if (std::holds_alternative<double>(want) && std::holds_alternative<double>(got))
                    // .ods keeps 15 significant digits
                    EXPECT_FUZZY(std::get<double>(got), std::get<double>(want), 1e-14)
                        << "row " << row << ", col " << col;
                else
                    EXPECT_EQ(got, want) << "row " << row << ", col " << col;
            }
        EXPECT_TRUE(IsEmpty(sheet->Value(500, 3)));
        EXPECT_TRUE(IsEmpty(sheet->Value(2, 200)));
        EXPECT_EQ(sheet->Comment(10, 8), "fixed");
        EXPECT_EQ(sheet->Comment(10, 9), std::nullopt);
        // The block read gives the same cells.
        auto block = sheet->Block(kFirstWlRow, 1, kFirstWlRow + 1, kSol + 2);
        ASSERT_EQ(block.size(), 2u);
        EXPECT_EQ(block[0][0], CellValue(480.0));
        EXPECT_FUZZY(std::get<double>(block[1][2]), Absorbance(1, 1), 1e-14);
        EXPECT_TRUE(IsEmpty(block[0][kSol + 1]));
        // Opening it again finds the open document.
        EXPECT_EQ(host->Open(book->FullName(), error), book);
        bool listed = false;
        for (int i = 1; i <= host->WorkbookCount(); ++i) listed |= host->WorkbookItem(i) == book;
        EXPECT_TRUE(listed);
    }
}

TEST(LibreOfficeHost, BadAccessFailsCleanly) {
    REQUIRE_OFFICE();
    auto host = Host();
    ASSERT_TRUE(host);
    std::string error;
    EXPECT_EQ(host->Open(Office::dir + "/missing.xls", error), nullptr);
    EXPECT_NE(error.find("missing.xls"), S::npos);
    const std::string notSheet = Office::dir + "/bad.xlsx";
    WriteBytes(notSheet, "not a workbook at all");
    Workbook* bad = host->Open(notSheet, error);
    if (bad) {
        EXPECT_NE(bad->Worksheets(1), nullptr); // Calc may take it for text
    }
    Workbook* book = host->Open(CopyOf(DataSetFiles().xlsx, "bad"), error);
    ASSERT_TRUE(book) << error;
    Worksheet* sheet = book->Worksheets(1);
    EXPECT_THROW(sheet->Value(0, 1), RuntimeError);
    EXPECT_THROW(sheet->SetValue(1, 0, 1.0), RuntimeError);
    EXPECT_THROW(sheet->SetValue(80, 1, std::nan("")), RuntimeError);
    EXPECT_THROW(sheet->SetValue(80, 1, HUGE_VAL), RuntimeError);
    EXPECT_THROW(sheet->ClearContents(3, 3, 2, 2), RuntimeError);
    EXPECT_TRUE(IsEmpty(sheet->Value(80, 1))); // nothing was written
}

TEST(LibreOfficeHost, WritesLandInTheRightCellsAndSurviveSaving) {
    REQUIRE_OFFICE();
    auto host = Host();
    ASSERT_TRUE(host);
    for (const std::string& file : {DataSetFiles().xls, DataSetFiles().ods}) {
        SCOPED_TRACE(file);
        std::string error;
        Workbook* book = host->Open(CopyOf(file, "write"), error);
        ASSERT_TRUE(book) << error;
        Worksheet* s = book->Worksheets(1);
        EXPECT_FALSE(book->Dirty());
        s->SetValue(10, 3, -250.125);           // inside the used range
        s->SetValue(10, 4, S("text, not 1.5")); // text stays text
        s->SetValue(2, 30, 7.0);                // far right: the range grows
        s->SetValue(60, 2, S("below"));         // far down
        s->SetValue(14, 2, CellValue{});        // empties the cell
        s->SetValue(15, 3, S(""));              // so does an empty text
        s->SetBlock(30, 12, {{1.0, 2.0, 3.0}, {4.0}, {S("a"), S("b")}}); // ragged rows
        s->SetComment(11, 9, S("mark"));
        s->SetComment(10, 8, std::nullopt);
        s->ClearContents(kFirstWlRow + 1, 2, kFirstWlRow + 1, 3);
        s->Clear(kFirstWlRow + 2, 2, kFirstWlRow + 2, 2);
        s->SetHorizontalAlignment(12, 5, 12, 5, kAlignCenter);
        EXPECT_TRUE(book->Dirty());
        // The sheet reads what was written, before and after the office has it.
        EXPECT_EQ(s->Value(10, 3), CellValue(-250.125));
        EXPECT_EQ(s->Value(2, 30), CellValue(7.0));
        EXPECT_EQ(s->Value(60, 2), CellValue(S("below")));
        EXPECT_TRUE(IsEmpty(s->Value(14, 2)));
        EXPECT_TRUE(IsEmpty(s->Value(15, 3)));
        EXPECT_EQ(s->Value(31, 12), CellValue(4.0));
        EXPECT_TRUE(IsEmpty(s->Value(31, 13)));
        EXPECT_EQ(s->Comment(11, 9), "mark");
        EXPECT_EQ(s->Comment(10, 8), std::nullopt);
        ASSERT_TRUE(book->Save(error)) << error;
        EXPECT_FALSE(book->Dirty());

        auto back = ReadBack(book->FullName());
        ASSERT_TRUE(back);
        Worksheet* b = back->Worksheets(1);
        EXPECT_EQ(b->Value(10, 3), CellValue(-250.125));
        EXPECT_EQ(b->Value(10, 4), CellValue(S("text, not 1.5")));
        EXPECT_EQ(b->Value(2, 30), CellValue(7.0));
        EXPECT_EQ(b->Value(60, 2), CellValue(S("below")));
        EXPECT_TRUE(IsEmpty(b->Value(14, 2)));
        EXPECT_TRUE(IsEmpty(b->Value(15, 3)));
        EXPECT_EQ(b->Value(30, 14), CellValue(3.0));
        EXPECT_EQ(b->Value(31, 12), CellValue(4.0));
        EXPECT_EQ(b->Value(32, 13), CellValue(S("b")));
        EXPECT_TRUE(IsEmpty(b->Value(kFirstWlRow + 1, 2)));
        EXPECT_TRUE(IsEmpty(b->Value(kFirstWlRow + 2, 2)));
        EXPECT_FUZZY(std::get<double>(b->Value(kFirstWlRow + 1, 4)), Absorbance(1, 2),
                     1e-14); // left alone
        EXPECT_EQ(b->Comment(11, 9), "mark");
        EXPECT_EQ(b->Comment(10, 8), std::nullopt);
        EXPECT_EQ(b->Value(1, 1), CellValue(S("Co(II) chloride through LibreOffice")));
    }
}

TEST(LibreOfficeHost, EditsThroughAnotherConnectionSetChanged) {
    REQUIRE_OFFICE();
    auto host = Host();
    ASSERT_TRUE(host);
    std::string error;
    Workbook* book = host->Open(CopyOf(DataSetFiles().ods, "watch"), error);
    ASSERT_TRUE(book) << error;
    Worksheet* sheet = book->ActiveSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->Value(5, 2), CellValue(25.0)); // the copy is taken
    SheetWatcher watch;
    watch.SetSheet(sheet);
    watch.SetEvents(true);
    watch.Changed = false;

    // The user, through a connection of its own.
    auto other = Host();
    ASSERT_TRUE(other);
    Workbook* same = nullptr;
    for (int i = 1; i <= other->WorkbookCount(); ++i)
        if (other->WorkbookItem(i)->FullName() == book->FullName()) same = other->WorkbookItem(i);
    ASSERT_TRUE(same);
    same->Worksheets(1)->SetValue(5, 2, 50.0);
    other->WorkbookCount(); // sends the queued cell

    EXPECT_TRUE(WaitFor([&] { return static_cast<bool>(watch.Changed); }));
    EXPECT_EQ(sheet->Value(5, 2), CellValue(50.0)); // the copy was dropped

    // With events off an edit goes unnoticed (the reader turns them off while it opens).
    watch.Changed = false;
    watch.SetEvents(false);
    same->Worksheets(1)->SetValue(6, 2, 2.0);
    other->WorkbookCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(watch.Changed);
    EXPECT_EQ(sheet->Value(6, 2), CellValue(2.0)); // yet the copy follows the sheet

    // What the program writes reaches the office by itself, while it goes on computing.
    sheet->SetValue(7, 2, 3.5);
    Worksheet* seen = same->Worksheets(1);
    EXPECT_TRUE(WaitFor([&] { return seen->Value(7, 2) == CellValue(3.5); }));
    watch.SetSheet(nullptr);
}

TEST(LibreOfficeHost, TheProgramsOwnWritesDoNotSetChanged) {
    REQUIRE_OFFICE();
    auto host = Host();
    ASSERT_TRUE(host);
    std::string error;
    Workbook* book = host->Open(CopyOf(DataSetFiles().xls, "own"), error);
    ASSERT_TRUE(book) << error;
    Worksheet* sheet = book->ActiveSheet();
    SheetWatcher watch;
    watch.SetSheet(sheet);
    watch.Changed = false;
    watch.SetEvents(false); // as the optimizer does
    for (int r = kFirstWlRow; r < kFirstWlRow + kWlCount; ++r)
        for (int c = kSol + 3; c <= kSol + 6; ++c) sheet->SetValue(r, c, r * 0.5 + c);
    sheet->SetBlock(3, 10, {{1.0, 2.0}, {3.0, 4.0}});
    sheet->ClearContents(4, 10, 4, 11);
    sheet->SetComment(10, 9, S("fixed"));
    EXPECT_EQ(sheet->Value(kFirstWlRow, kSol + 3), CellValue(kFirstWlRow * 0.5 + kSol + 3));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the queue goes out
    watch.SetEvents(true);
    watch.Changed = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(watch.Changed);
    watch.SetSheet(nullptr);
}

TEST(LibreOfficeHost, StatusBarAndSwitches) {
    REQUIRE_OFFICE();
    auto host = Host();
    ASSERT_TRUE(host);
    std::string error;
    Workbook* book = host->Open(CopyOf(DataSetFiles().xlsx, "switches"), error);
    ASSERT_TRUE(book) << error;
    EXPECT_TRUE(host->DisplayStatusBar());
    host->SetStatusBar("Optimizing...");
    host->SetStatusBar("Iteration: 2");
    host->SetInteractive(false);
    host->SetScreenUpdating(false);
    EXPECT_FALSE(host->Interactive());
    EXPECT_FALSE(host->ScreenUpdating());
    // Work goes on while the controllers are locked.
    Worksheet* sheet = book->Worksheets(1);
    sheet->SetValue(12, 3, 0.5);
    EXPECT_EQ(sheet->Value(12, 3), CellValue(0.5));
    host->SetScreenUpdating(true);
    host->SetInteractive(true);
    host->ResetStatusBar();
    host->SetDisplayStatusBar(false);
    EXPECT_FALSE(host->DisplayStatusBar());
    host->SetStatusBar("hidden");
    host->SetDisplayStatusBar(true);
    EXPECT_TRUE(host->Interactive());
    EXPECT_TRUE(host->ScreenUpdating());
    EXPECT_EQ(sheet->Value(12, 3), CellValue(0.5));
}

TEST(LibreOfficeHost, AttachesToARunningOfficeAndLeavesItRunning) {
    REQUIRE_OFFICE();
    {
        auto attached = AttachLibreOfficeHost(false); // the pipe comes from LUMORA_LO_PIPE
        ASSERT_TRUE(attached);
        EXPECT_EQ(attached->HostName(), "LibreOffice");
        EXPECT_GE(attached->WorkbookCount(), 0);
        EXPECT_EQ(AttachLibreOfficeHost(false), attached); // one host per process
        auto own = Host();
        ASSERT_TRUE(own);
    }
    EXPECT_TRUE(LibreOfficeAnswers(Office::options));
    LibreOfficeOptions nobody = Office::options;
    nobody.pipe += "-nobody";
    EXPECT_FALSE(LibreOfficeAnswers(nobody));
    std::string error;
    EXPECT_EQ(LibreOfficeHost::Connect(nobody, false, error), nullptr);
    EXPECT_NE(error.find(nobody.pipe), S::npos);
}

/// An office that goes away under the program (closed by the user, crashed) gives
/// errors, never a crash; the host connects again when asked.
TEST(LibreOfficeHost, AnOfficeThatGoesAwayGivesErrors) {
    REQUIRE_OFFICE();
    LibreOfficeOptions second = Office::options;
    second.pipe += "-second";
    second.profileDir = Office::dir + "/profile-second";
    second.startTimeout = 120;
    std::string error;
    auto host = LibreOfficeHost::Connect(second, true, error); // starts it
    ASSERT_TRUE(host) << error;
    Workbook* book = host->Open(CopyOf(DataSetFiles().xlsx, "gone"), error);
    ASSERT_TRUE(book) << error;
    Worksheet* sheet = book->Worksheets(1);
    EXPECT_EQ(sheet->Value(5, 2), CellValue(25.0));
    sheet->SetValue(70, 1, 1.0);
    EXPECT_EQ(sheet->Block(70, 1, 70, 1)[0][0], CellValue(1.0)); // the document is modified
    sheet->SetValue(71, 1, 1.0);                                 // queued when the office ends

    ASSERT_TRUE(TerminateLibreOffice(second, error)) << error;
    EXPECT_TRUE(WaitFor([&] { return !host->Connected(); }));
    EXPECT_THROW(sheet->Value(100, 2), RuntimeError);
    EXPECT_THROW(host->WorkbookCount(), RuntimeError);
    EXPECT_FALSE(book->Save(error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(host->Open(CopyOf(DataSetFiles().xlsx, "gone2"), error), nullptr);

    // Back again: the old workbook stays a valid object that answers with errors.
    ASSERT_TRUE(host->Reconnect(true, error)) << error;
    EXPECT_EQ(host->WorkbookCount(), 0);
    EXPECT_THROW(book->Worksheets(1), RuntimeError);
    Workbook* again = host->Open(CopyOf(DataSetFiles().xlsx, "gone3"), error);
    ASSERT_TRUE(again) << error;
    EXPECT_NE(again, book);
    EXPECT_TRUE(IsEmpty(again->Worksheets(1)->Value(70, 1)));
    EXPECT_TRUE(TerminateLibreOffice(second, error)) << error;
}

/// The whole road: the reader and the optimizer on the bundled example, converted
/// to .xls, in the office; the results saved and read back from the file.
TEST(LibreOfficeHost, ReaderAndOptimizerOnAnXlsDataSet) {
    REQUIRE_OFFICE();
    const std::string folder = Office::dir + "/e2e";
    fs::create_directories(folder);
    const std::string path =
        Office::Convert(LUMORA_EXAMPLES_DIR "/co-chloride-25C.xlsx", "xls", folder);
    ASSERT_FALSE(path.empty());
    State st;
    TestUi ui(st);
    st.solver = CreateSolver();
    st.props = CreateProps();
    st.sysReader = CreateSysReader();
    auto host = Host();
    ASSERT_TRUE(host);
    st.attachHost = [host](bool) { return host; };
    st.WorkDir = folder + "/";
    ui.fileText = "co-chloride-25C.xls";

    ReadDataSet(st, ui.request());
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg
                             << (ui.messages.empty() ? "" : " / " + ui.messages[0].text);
    EXPECT_GT(st.nSol, 0);
    EXPECT_GT(st.nWl, 0);
    EXPECT_GT(st.nFree, 0);
    EXPECT_FALSE(st.xlsWatch->Changed);
    EXPECT_TRUE(std::isfinite(st.RmsErr));
    // The spectra as the file holds them.
    std::string error;
    auto source = GridWorkbook::Load(LUMORA_EXAMPLES_DIR "/co-chloride-25C.xlsx", error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(CellValue(st.AbsM(1, 1)), source->Worksheets(1)->Value(st.RowWlFirst, 2));
    EXPECT_EQ(CellValue(st.AbsM(st.nSol, st.nWl)),
              source->Worksheets(1)->Value(st.RowWlLast, st.nSol + 1));

    OptimizeCommand(st, ReadRequest{});
    ASSERT_EQ(st.ErrCode, 0) << (ui.messages.empty() ? "" : ui.messages[0].text);
    EXPECT_FALSE(st.xlsWatch->Changed);
    EXPECT_TRUE(host->Interactive());
    EXPECT_TRUE(host->ScreenUpdating());
    ASSERT_TRUE(st.xlBook->Save(error)) << error;

    auto back = ReadBack(path);
    ASSERT_TRUE(back);
    Worksheet* b = back->Worksheets(1);
    for (int i = 1; i <= st.nSp; ++i)
        if (st.SpFree(i)) {
            EXPECT_FUZZY(std::get<double>(b->Value(9 + i, 4)), st.G0Res(i), 1e-6);
        }
    EXPECT_FUZZY(std::get<double>(b->Value(st.nSp + 10, 4)), st.RmsErr, 1e-6);
    // The result table beside the spectra: species names, then Eps and AbsC.
    const int c0 = st.nSol + 2, cSol = c0 + st.nSp + 1;
    for (int i = 1; i <= st.nSp; ++i)
        EXPECT_EQ(b->Value(st.RowWave, c0 + i), CellValue(st.SpName(i)));
    EXPECT_EQ(b->Value(st.RowWave, cSol + 1), CellValue(st.SolName(1)));
    EXPECT_FUZZY(std::get<double>(b->Value(st.RowWlFirst, c0 + 1)), st.Eps(1, 1), 1e-12);
    EXPECT_FUZZY(std::get<double>(b->Value(st.RowWlLast, cSol + st.nSol)), st.AbsC(st.nSol, st.nWl),
                 1e-12);
}

/// The band-parameter marks read through the host.
TEST(LibreOfficeHost, CommentsMarkFixedBandParameters) {
    REQUIRE_OFFICE();
    const std::string path = CopyOf(DataSetFiles().ods, "marks");
    auto host = Host();
    ASSERT_TRUE(host);
    std::string error;
    Workbook* book = host->Open(path, error);
    ASSERT_TRUE(book) << error;
    Worksheet* s = book->Worksheets(1);
    s->SetValue(10, 7, 1.0); // one band for CoCl+: cells H10:J10, H10 carries "fixed"
    s->SetValue(11, 7, 1.0);
    s->SetComment(11, 10, S("also fixed"));
    State st;
    st.xlSheet = s;
    st.nSp = 2;
    st.GaussTab.Redim(3, 2);
    st.GaussTab(0, 0) = 2;
    ReadFixedMarks(st);
    ASSERT_EQ(st.GaussFixed.UBound(), 6);
    const int want[] = {0, 1, 0, 0, 0, 0, 1};
    for (int a = 1; a <= 6; ++a) EXPECT_EQ(st.GaussFixed(a), want[a]) << "parameter " << a;
}

} // namespace
} // namespace lumora::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new lumora::test::Office);
    return RUN_ALL_TESTS();
}
