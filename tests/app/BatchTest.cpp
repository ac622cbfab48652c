// The command line, the settings file, batch mode's answers and its summary.

#include "app/Batch.h"
#include "app/BatchUi.h"
#include "app/CommandLine.h"
#include "windows/Settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

namespace lumora {
namespace {

namespace fs = std::filesystem;

TEST(SettingsFile, ReadRulesAndRewrite) {
    const fs::path dir = fs::path(LUMORA_TEST_BUILD_DIR) / "settings";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path ini = dir / "Lumora.ini";
    const std::pair<const char*, const char*> cases[] = {
        {"WorkDir=/home/u/data/\n", "/home/u/data/"},
        {"WorkDir=   /home/u/data/   \nWorkDir=/other/\n", "/home/u/data/"},
        {"WorkDir=/w/\r\n", "/w/"},
        {"workdir=/home/u/\n", ""},
        {" WorkDir=/home/u/\n", ""},
        {"\nWorkDir=/home/u/\n", ""},
        {"", ""},
        {"WorkDir=", ""},
    };
    for (const auto& [text, workDir] : cases) {
        std::ofstream(ini, std::ios::binary) << text;
        EXPECT_EQ(ReadWorkDir(dir.string()), workDir) << text;
    }
    fs::remove(ini);
    EXPECT_EQ(ReadWorkDir(dir.string()), "");

    // A rewrite keeps one line, and nothing else in the folder.
    std::ofstream(ini, std::ios::binary) << "WorkDir=/a/\nsecond line\nthird\n";
    ASSERT_TRUE(WriteWorkDir(dir.string(), ReadWorkDir(dir.string())));
    auto read = [&] {
        std::ifstream in(ini, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read(), "WorkDir=/a/\n");
    ASSERT_TRUE(WriteWorkDir(dir.string(), ""));
    EXPECT_EQ(read(), "WorkDir=\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);
    EXPECT_FALSE(WriteWorkDir((dir / "no" / "such").string(), "/x/"));
}

TEST(CommandLineTest, SwitchesAndUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        const char* parsed; ///< "flags set|host|workbook", or the error
    };
    const Case cases[] = {
        {{"/IE", "data.xlsx"}, "ie||data.xlsx"},
        {{"/data/ieee/run.xlsx"}, "||/data/ieee/run.xlsx"}, // a path with /ie inside
        {{"/ienolimits"}, "ie||"},                          // the switch inside a word
        {{"--batch", "set.xlsx", "--optimize", "--json", "/ie", "--host", "Embedded"},
         "batch optimize json ie|embedded|set.xlsx"},
        {{"--batch", "set.xlsx", "--export"}, "batch export||set.xlsx"},
        {{"--batch"}, "error: --batch needs a workbook"},
        {{"--optimize", "a.xlsx"}, "error: --optimize, --export and --json go with --batch"},
        {{"--host"}, "error: --host needs a value (embedded or libreoffice)"},
        {{"--host", "excel"}, "error: Unknown host \"excel\" (embedded or libreoffice)"},
        {{"--frobnicate"}, "error: Unknown option --frobnicate"},
        {{"a.xlsx", "b.xlsx"}, "error: More than one workbook given: b.xlsx"},
    };
    for (const auto& c : cases) {
        std::string error, got;
        if (auto cl = ParseCommandLine(c.args, error)) {
            for (auto [on, name] : {std::pair{cl->batch, " batch"},
                                    {cl->optimize, " optimize"},
                                    {cl->exportSolutions, " export"},
                                    {cl->json, " json"},
                                    {cl->noLimits, " ie"}})
                if (on) got += name;
            got = got.substr(got.empty() ? 0 : 1) + "|" + cl->host + "|" + cl->workbook;
        } else {
            got = "error: " + error;
        }
        EXPECT_EQ(got, c.parsed) << c.args[0];
    }
}

std::string Slurp(std::FILE* f) {
    std::string s(static_cast<size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    s.resize(std::fread(s.data(), 1, s.size(), f));
    return s;
}

TEST(BatchUiTest, FixedAnswersPrintedToStderr) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    BatchUi ui(out, err);
    EXPECT_TRUE(ui.ask("Optimization interrupted. Keep current data?  "));
    EXPECT_TRUE(ui.ask("Nothing to optimize. Save data?  "));
    // A question that keeps coming back (damping raised again and again) ends with No.
    int yes = 0;
    for (int i = 0; i < 100 && ui.ask("Too high correlation. Reduce accuracy?  "); ++i) ++yes;
    EXPECT_EQ(yes, BatchUi::kMaxRepeats);
    ui.status("Iteration: 1,    Error: 0.001000");
    ui.status("");
    ui.message("Could not invert Hessian  ", Icon::Exclamation);
    const std::string e = Slurp(err);
    for (const char* line :
         {"Optimization interrupted. Keep current data? Yes\n",
          "Too high correlation. Reduce accuracy? No\n", "Warning: Could not invert Hessian\n"})
        EXPECT_NE(e.find(line), std::string::npos) << line;
    EXPECT_EQ(Slurp(out), "Iteration: 1,    Error: 0.001000\n");
    std::fclose(out);
    std::fclose(err);
}

TEST(BatchSummaryTest, JsonLine) {
    BatchSummary s;
    s.ErrCode = 0;
    s.ErrMsg = "say \"hi\"\n";
    s.RmsErr = 0.00123;
    s.nSol = 12;
    s.nWl = 3;
    s.species = {{"CoCl+", -216.5, -217.25, 0.5, true}, {"Co+2", -54.4, -54.4, 0, false}};
    s.iterations = 7;
    s.evaluations = 120;
    s.seconds = 0.25;
    EXPECT_EQ(
        SummaryJson(s),
        "{\"ErrCode\":0,\"ErrMsg\":\"say \\\"hi\\\"\\n\",\"RmsErr\":0.00123,\"nSol\":12,\"nWl\":3,"
        "\"species\":[{\"name\":\"CoCl+\",\"initial\":-216.5,\"result\":-217.25,\"pm\":0.5,"
        "\"free\":true},{\"name\":\"Co+2\",\"initial\":-54.4,\"result\":-54.4,\"pm\":0,"
        "\"free\":false}],\"iterations\":7,\"evaluations\":120,\"seconds\":0.25}");
    const std::string text = SummaryText(s);
    EXPECT_NE(text.find("Mean err.: 0.001230"), std::string::npos);
    EXPECT_NE(text.find("(fixed)"), std::string::npos);
    s.RmsErr = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE(SummaryJson(s).find("\"RmsErr\":null"), std::string::npos) << "no NaN in JSON";
}

} // namespace
} // namespace lumora
