// The LibreOffice host against a headless office the suite starts once. The bundled example
// is converted to .xls and .ods; what the host reads is compared with the embedded reader's
// view, what it saves is converted back and read by that reader: an independent side.

#include "lohost/LibreOfficeHost.h"
#include "FuzzyCompare.h"
#include "TestUi.h"
#include "WorkbookFiles.h"
#include "dataset/OptimizeCommand.h"
#include "dataset/ReadDataSet.h"
#include "engine/EngineFactory.h"
#include "sheet/SheetWatcher.h"
#include "xlsx/GridWorkbook.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace lumora::test {
namespace {

namespace fs = std::filesystem;
using S = std::string;

class Office : public ::testing::Environment {
public:
    static inline LibreOfficeOptions options;
    static inline std::string unavailable; ///< why the suite cannot run, "" when it can
    static inline std::string dir;

    void SetUp() override {
        dir = (fs::temp_directory_path() / ("lumora-lo-" + std::to_string(getpid()))).string();
        fs::remove_all(dir);
        fs::create_directories(dir);
        options.pipe = "lumora-test-" + std::to_string(getpid());
        options.headless = true;
        options.profileDir = dir + "/profile";
        std::string error;
        if (std::system("command -v soffice >/dev/null 2>&1") != 0)
            unavailable = "soffice is not installed";
        else if (!StartLibreOffice(options, error))
            unavailable = error;
        for (int i = 0; unavailable.empty() && i < 600 && !LibreOfficeAnswers(options); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (unavailable.empty() && !LibreOfficeAnswers(options))
            unavailable = "the started office did not answer";
        setenv("LUMORA_LO_PIPE", options.pipe.c_str(), 1);
    }

    void TearDown() override {
        std::string error;
        if (unavailable.empty()) TerminateLibreOffice(options, error);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    /// Converts a file with an office of its own (the suite's would end after the job);
    /// the new file's path, "" on failure.
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

/// The bundled example with a comment on H10 in three formats, made once.
struct Fixtures {
    std::string xlsx, xls, ods;
};

const Fixtures& DataSetFiles() {
    static Fixtures f = [] {
        const std::string src = Office::dir + "/src", xlsx = src + "/co.xlsx";
        fs::create_directories(src);
        fs::copy_file(LUMORA_EXAMPLES_DIR "/co-chloride-25C.xlsx", xlsx);
        std::string error;
        auto book = LoadOk(xlsx);
        book->Worksheets(1)->SetComment(10, 8, S("fixed"));
        EXPECT_TRUE(book->Save(error)) << error;
        return Fixtures{xlsx, Office::Convert(xlsx, "xls", src), Office::Convert(xlsx, "ods", src)};
    }();
    return f;
}

/// A copy of a fixture in a folder of its own (tests write into their workbooks).
std::string CopyOf(const std::string& file, const std::string& name) {
    fs::create_directories(Office::dir + "/" + name);
    const std::string to = Office::dir + "/" + name + "/" + fs::path(file).filename().string();
    fs::copy_file(file, to, fs::copy_options::overwrite_existing);
    return to;
}

/// The saved file converted to .xlsx by another office, loaded by the embedded reader.
std::unique_ptr<GridWorkbook> ReadBack(const std::string& file) {
    const std::string out = Office::dir + "/readback-" + std::to_string(std::rand());
    fs::create_directories(out);
    const std::string xlsx = Office::Convert(file, "xlsx", out);
    EXPECT_FALSE(xlsx.empty()) << "conversion of " << file << " failed";
    return LoadOk(xlsx);
}

bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 100 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return condition();
}

/// Equal cells; numbers to 1e-14 (.ods keeps 15 significant digits).
void ExpectCell(const CellValue& got, const CellValue& want, int row, int col) {
    if (std::holds_alternative<double>(want) && std::holds_alternative<double>(got))
        EXPECT_FUZZY(std::get<double>(got), std::get<double>(want), 1e-14) << row << "," << col;
    else
        EXPECT_EQ(got, want) << "row " << row << ", col " << col;
}

TEST(LibreOfficeHost, OpensEachFormatReadsEveryCellAndRefusesBadAccess) {
    REQUIRE_OFFICE();
    const Fixtures& f = DataSetFiles();
    ASSERT_FALSE(f.xls.empty() || f.ods.empty());
    std::string error;
    auto host = LibreOfficeHost::Connect(Office::options, false, error);
    ASSERT_TRUE(host) << error;
    auto expected = LoadOk(DataSetFiles().xlsx);
    Worksheet* want = expected->Worksheets(1);
    const auto [rows, cols] = static_cast<GridSheet*>(want)->UsedExtent();
    for (const std::string& file : {f.xlsx, f.xls, f.ods}) {
        SCOPED_TRACE(file);
        Workbook* book = host->Open(CopyOf(file, "read"), error);
        ASSERT_TRUE(book) << error;
        Worksheet* sheet = book->ActiveSheet();
        ASSERT_TRUE(sheet);
        // Every cell, and the empty ones around the data, one by one and as a block.
        const auto block = sheet->Block(1, 1, rows + 2, cols + 2);
        for (int r = 1; r <= rows + 2; ++r)
            for (int c = 1; c <= cols + 2; ++c) {
                ExpectCell(sheet->Value(r, c), want->Value(r, c), r, c);
                ExpectCell(block[size_t(r - 1)][size_t(c - 1)], want->Value(r, c), r, c);
            }
        EXPECT_EQ(sheet->Comment(10, 8), "fixed");
        EXPECT_EQ(host->Open(book->FullName(), error), book); // the open document
        // Bad positions and values raise the spreadsheet's error and write nothing.
        EXPECT_THROW(sheet->Value(0, 1), RuntimeError);
        EXPECT_THROW(sheet->SetValue(100, 1, std::nan("")), RuntimeError);
        EXPECT_THROW(sheet->ClearContents(3, 3, 2, 2), RuntimeError);
        EXPECT_TRUE(IsEmpty(sheet->Value(100, 1)));
    }
    EXPECT_EQ(host->Open(Office::dir + "/missing.xls", error), nullptr);
    EXPECT_NE(error.find("missing.xls"), S::npos);
}

TEST(LibreOfficeHost, WritesLandInTheRightCellsAndSurviveSaving) {
    REQUIRE_OFFICE();
    std::string error;
    auto host = LibreOfficeHost::Connect(Office::options, false, error);
    ASSERT_TRUE(host) << error;
    auto expected = LoadOk(DataSetFiles().xlsx);
    for (const std::string& file : {DataSetFiles().xls, DataSetFiles().ods}) {
        SCOPED_TRACE(file);
        Workbook* book = host->Open(CopyOf(file, "write"), error);
        ASSERT_TRUE(book) << error;
        Worksheet* s = book->Worksheets(1);
        s->SetValue(10, 3, -250.125);           // inside the used range
        s->SetValue(10, 4, S("text, not 1.5")); // text stays text
        s->SetValue(2, 30, 7.0);                // far right: the range grows
        s->SetValue(120, 2, S("below"));        // far down
        s->SetValue(15, 2, S(""));              // an empty text empties the cell
        s->SetBlock(30, 16, {{1.0, 2.0, 3.0}, {4.0}, {S("a"), S("b")}}); // ragged rows
        s->SetComment(11, 9, S("mark"));
        s->SetComment(10, 8, std::nullopt);
        s->ClearContents(20, 2, 20, 3);
        s->Clear(21, 2, 21, 2);
        s->SetHorizontalAlignment(12, 5, 12, 5, kAlignCenter);
        EXPECT_TRUE(book->Dirty());
        EXPECT_EQ(s->Value(31, 16), CellValue(4.0)); // read back before the office has it
        ASSERT_TRUE(book->Save(error)) << error;
        EXPECT_FALSE(book->Dirty());

        auto back = ReadBack(book->FullName());
        Worksheet* b = back->Worksheets(1);
        // clang-format off
        const std::tuple<int, int, CellValue> cells[] = {
            {10, 3, -250.125}, {10, 4, S("text, not 1.5")}, {2, 30, 7.0}, {120, 2, S("below")},
            {15, 2, CellValue{}}, {30, 18, 3.0}, {31, 16, 4.0},
            {31, 17, CellValue{}}, {32, 17, S("b")}, {20, 2, CellValue{}}, {21, 2, CellValue{}}};
        // clang-format on
        for (const auto& [r, c, v] : cells) EXPECT_EQ(b->Value(r, c), v) << r << "," << c;
        for (int c = 1; c <= 13; ++c) // the rest is left alone
            if (c < 2 || c > 3)
                ExpectCell(b->Value(20, c), expected->Worksheets(1)->Value(20, c), 20, c);
        EXPECT_EQ(b->Comment(11, 9), "mark");
        EXPECT_EQ(b->Comment(10, 8), std::nullopt);
    }
}

Workbook* FindOpen(LibreOfficeHost& host, const std::string& path) {
    for (int i = 1; i <= host.WorkbookCount(); ++i)
        if (host.WorkbookItem(i)->FullName() == path) return host.WorkbookItem(i);
    return nullptr;
}

// Through the host attached to the running office (one per process), which leaves it running.
TEST(LibreOfficeHost, OnlyEditsThroughAnotherConnectionSetChanged) {
    REQUIRE_OFFICE();
    auto host = AttachLibreOfficeHost(false); // the pipe comes from LUMORA_LO_PIPE
    ASSERT_TRUE(host);
    EXPECT_EQ(AttachLibreOfficeHost(false), host);
    std::string error;
    Workbook* book = host->Open(CopyOf(DataSetFiles().ods, "watch"), error);
    ASSERT_TRUE(book) << error;
    Worksheet* sheet = book->ActiveSheet();
    EXPECT_EQ(sheet->Value(5, 2), CellValue(25.0)); // the copy is taken
    SheetWatcher watch;
    watch.SetSheet(sheet);

    // The program's own writes, events off as the optimizer has them, are no edit.
    watch.SetEvents(false);
    for (int r = 20; r < 80; ++r)
        for (int c = 15; c <= 18; ++c) sheet->SetValue(r, c, r * 0.5 + c);
    sheet->SetBlock(3, 10, {{1.0, 2.0}, {3.0, 4.0}});
    sheet->SetComment(10, 9, S("fixed"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the queue goes out
    watch.SetEvents(true);
    watch.Changed = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(watch.Changed);

    // The user, through a connection of its own.
    auto other = LibreOfficeHost::Connect(Office::options, false, error);
    ASSERT_TRUE(other) << error;
    Workbook* same = FindOpen(*other, book->FullName());
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
    host.reset();
    EXPECT_TRUE(LibreOfficeAnswers(Office::options));
}

/// Another program saves the workbook with B5 = value; its date moves on by seconds, as
/// the office compares dates to the second.
void ReplaceFile(const std::string& path, double value) {
    std::string error;
    const auto was = fs::last_write_time(path);
    auto file = LoadOk(path);
    file->Worksheets(1)->SetValue(5, 2, value);
    ASSERT_TRUE(file->Save(error)) << error;
    fs::last_write_time(path, was + std::chrono::seconds(10));
}

// A copy in the office older than its file is loaded again before it is read, never
// saved over the file; with unsaved changes it is kept, and so is the newer file.
TEST(LibreOfficeHost, ACopyOlderThanItsFileIsReloadedAndNeverSavedOverIt) {
    REQUIRE_OFFICE();
    std::string error;
    auto host = LibreOfficeHost::Connect(Office::options, false, error);
    ASSERT_TRUE(host) << error;
    const std::string path = CopyOf(DataSetFiles().xlsx, "stale");
    Workbook* book = host->Open(path, error);
    ASSERT_TRUE(book) << error;
    Worksheet* sheet = book->Worksheets(1);
    EXPECT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Unchanged);
    ReplaceFile(path, 30.0);
    EXPECT_EQ(book->ReloadIfChangedOnDisk(error), ReloadResult::Reloaded) << error;
    EXPECT_EQ(sheet->Value(5, 2), CellValue(30.0)); // the same sheet object

    // Found open through another connection: how old the copy is nobody knows.
    auto other = LibreOfficeHost::Connect(Office::options, false, error);
    ASSERT_TRUE(other) << error;
    Workbook* found = FindOpen(*other, path);
    ASSERT_TRUE(found);
    ReplaceFile(path, 35.0);
    EXPECT_EQ(found->ReloadIfChangedOnDisk(error), ReloadResult::Reloaded) << error;
    EXPECT_EQ(found->Worksheets(1)->Value(5, 2), CellValue(35.0));

    // The office storing it itself (the user saving in Calc) changes no other program's file.
    auto third = LibreOfficeHost::Connect(Office::options, false, error);
    ASSERT_TRUE(third) << error;
    Workbook* live = FindOpen(*third, path);
    ASSERT_TRUE(live);
    live->Worksheets(1)->SetValue(6, 2, 1.0);
    ASSERT_TRUE(live->Save(error)) << error;
    found->Worksheets(1)->SetValue(7, 2, 1.0);
    other->WorkbookCount(); // sends the queued cell
    EXPECT_EQ(found->ReloadIfChangedOnDisk(error), ReloadResult::Unchanged) << error;

    // Unsaved changes and a newer file: both stay; the host's own check, then the office's.
    ReplaceFile(path, 40.0);
    EXPECT_EQ(found->ReloadIfChangedOnDisk(error), ReloadResult::Failed);
    EXPECT_NE(error.find("unsaved changes"), S::npos) << error;
    EXPECT_FALSE(found->Save(error));
    EXPECT_NE(error.find("the newer file is kept"), S::npos) << error;
    EXPECT_EQ(live->ReloadIfChangedOnDisk(error), ReloadResult::Unchanged); // read as it is
    EXPECT_FALSE(live->Save(error));
    EXPECT_NE(error.find("the newer file is kept"), S::npos) << error;
    EXPECT_EQ(LoadOk(path)->Worksheets(1)->Value(5, 2), CellValue(40.0));
}

// The program in batch mode with the suite's office answering (LUMORA_LO_PIPE), on
// workbooks of names of their own (the reader takes an open one of the same name).
TEST(LibreOfficeHost, BatchRunsExitCleanlyAndLeaveNoCopyBehind) {
    REQUIRE_OFFICE();
    const std::string dir = Office::dir + "/batch/", own = dir + "own.xlsx";
    fs::create_directories(dir);
    fs::copy_file(DataSetFiles().xlsx, own);
    fs::copy_file(DataSetFiles().ods, dir + "own.ods");
    auto run = [](const std::string& file, const std::string& host) {
        const int status = std::system(
            (S(LUMORA_PROGRAM) + " --batch '" + file + "'" + host + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    };
    // Without --host the embedded host, which opens no .ods (code 2).
    EXPECT_EQ(run(dir + "own.ods", ""), 2);
    std::string error;
    auto host = LibreOfficeHost::Connect(Office::options, false, error);
    ASSERT_TRUE(host) << error;
    EXPECT_EQ(run(own, " --host libreoffice"), 0);
    EXPECT_EQ(FindOpen(*host, own), nullptr); // what the run opened it closed

    // A document open before the run stays open; its newer file is read and kept.
    const std::string before = dir + "before.xlsx";
    fs::copy_file(own, before);
    ASSERT_TRUE(host->Open(before, error)) << error;
    ReplaceFile(before, 30.0);
    EXPECT_EQ(run(before, " --host libreoffice"), 0);
    EXPECT_TRUE(FindOpen(*host, before));
    EXPECT_EQ(LoadOk(before)->Worksheets(1)->Value(5, 2), CellValue(30.0));
}

/// An office that goes away (closed, crashed) gives errors, never a crash; the host
/// connects again when asked.
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
    sheet->SetValue(100, 1, 1.0);
    EXPECT_EQ(sheet->Block(100, 1, 100, 1)[0][0], CellValue(1.0)); // the document is modified
    sheet->SetValue(101, 1, 1.0);                                  // queued when the office ends

    ASSERT_TRUE(TerminateLibreOffice(second, error)) << error;
    EXPECT_TRUE(WaitFor([&] { return !host->Connected(); }));
    EXPECT_THROW(sheet->Value(102, 2), RuntimeError);
    EXPECT_FALSE(book->Save(error) || error.empty());
    EXPECT_EQ(host->Open(CopyOf(DataSetFiles().xlsx, "gone2"), error), nullptr);
    EXPECT_EQ(LibreOfficeHost::Connect(second, false, error), nullptr); // nobody answers
    EXPECT_NE(error.find(second.pipe), S::npos);

    // Back again: the old workbook stays a valid object that answers with errors.
    ASSERT_TRUE(host->Reconnect(true, error)) << error;
    EXPECT_EQ(host->WorkbookCount(), 0);
    EXPECT_THROW(book->Worksheets(1), RuntimeError);
    Workbook* again = host->Open(CopyOf(DataSetFiles().xlsx, "gone3"), error);
    ASSERT_TRUE(again) << error;
    EXPECT_TRUE(IsEmpty(again->Worksheets(1)->Value(100, 1)));
    EXPECT_TRUE(TerminateLibreOffice(second, error)) << error;
}

/// The reader and the optimizer on the example as .xls in the office; the results saved
/// and read back from the file.
TEST(LibreOfficeHost, ReaderAndOptimizerOnAnXlsDataSet) {
    REQUIRE_OFFICE();
    // A name of its own: the reader takes an open workbook of the same name for its file.
    const std::string path = Office::dir + "/e2e/example.xls";
    fs::create_directories(Office::dir + "/e2e");
    fs::copy_file(DataSetFiles().xls, path);
    State st;
    TestUi ui(st);
    st.solver = CreateSolver();
    st.props = CreateProps();
    st.sysReader = CreateSysReader();
    std::string error;
    auto host = LibreOfficeHost::Connect(Office::options, false, error);
    ASSERT_TRUE(host) << error;
    st.attachHost = [host](bool) { return host; };
    st.WorkDir = Office::dir + "/e2e/";
    ui.fileText = "example.xls";

    ReadDataSet(st, ui.request());
    ASSERT_EQ(st.ErrCode, 0) << st.ErrMsg
                             << (ui.messages.empty() ? "" : " / " + ui.messages[0].text);
    EXPECT_FALSE(st.xlsWatch->Changed);
    // The spectra as the file holds them.
    EXPECT_EQ(CellValue(st.AbsM(st.nSol, st.nWl)),
              LoadOk(DataSetFiles().xlsx)->Worksheets(1)->Value(st.RowWlLast, st.nSol + 1));

    OptimizeCommand(st, ReadRequest{});
    ASSERT_EQ(st.ErrCode, 0) << (ui.messages.empty() ? "" : ui.messages[0].text);
    EXPECT_FALSE(st.xlsWatch->Changed);
    EXPECT_TRUE(host->Interactive());
    EXPECT_TRUE(host->ScreenUpdating());
    ASSERT_TRUE(st.xlBook->Save(error)) << error;

    auto back = ReadBack(path);
    Worksheet* b = back->Worksheets(1);
    for (int i = 1; i <= st.nSp; ++i)
        EXPECT_FUZZY(std::get<double>(b->Value(9 + i, 4)), st.G0Res(i), 1e-6);
    EXPECT_FUZZY(std::get<double>(b->Value(st.nSp + 10, 4)), st.RmsErr, 1e-6);
    // The result table beside the spectra: Eps, then AbsC.
    const int c0 = st.nSol + 2, cSol = c0 + st.nSp + 1;
    EXPECT_FUZZY(std::get<double>(b->Value(st.RowWlFirst, c0 + 1)), st.Eps(1, 1), 1e-12);
    EXPECT_FUZZY(std::get<double>(b->Value(st.RowWlLast, cSol + st.nSol)), st.AbsC(st.nSol, st.nWl),
                 1e-12);
}

} // namespace
} // namespace lumora::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new lumora::test::Office);
    return RUN_ALL_TESTS();
}
