// The command line, the settings file and the batch summary.

#include "app/Batch.h"
#include "WorkbookFiles.h"
#include "app/CommandLine.h"
#include "windows/Settings.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(ReadWorkDir(dir.string()), ""); // no file
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"WorkDir=/home/u/data/\n", "/home/u/data/"}, {"WorkDir=/w/\r\n", "/w/"},
        {"WorkDir=   /home/u/data/   \nWorkDir=/other/\n", "/home/u/data/"},
        {"workdir=/home/u/\n", ""}, {" WorkDir=/home/u/\n", ""}, {"\nWorkDir=/home/u/\n", ""},
        {"WorkDir=", ""}};
    // clang-format on
    for (const auto& [text, workDir] : cases) {
        std::ofstream(ini, std::ios::binary) << text;
        EXPECT_EQ(ReadWorkDir(dir.string()), workDir) << text;
    }
    // A rewrite keeps one line, and nothing else in the folder.
    std::ofstream(ini, std::ios::binary) << "WorkDir=/a/\nsecond line\nthird\n";
    ASSERT_TRUE(WriteWorkDir(dir.string(), ReadWorkDir(dir.string())));
    EXPECT_EQ(test::ReadBytes(ini), "WorkDir=/a/\n");
    ASSERT_TRUE(WriteWorkDir(dir.string(), ""));
    EXPECT_EQ(test::ReadBytes(ini), "WorkDir=\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);
    fs::remove(ini);
    // A missing folder is made; an old file in the working folder is taken over once.
    ASSERT_TRUE(WriteWorkDir((dir / "old").string(), "/old/"));
    AdoptLegacySettings((dir / "new" / "lumora").string(), (dir / "old").string());
    EXPECT_EQ(ReadWorkDir((dir / "new" / "lumora").string()), "/old/");
    ASSERT_TRUE(WriteWorkDir((dir / "old").string(), "/older/"));
    AdoptLegacySettings((dir / "new" / "lumora").string(), (dir / "old").string());
    EXPECT_EQ(ReadWorkDir((dir / "new" / "lumora").string()), "/old/");
}

TEST(CommandLineTest, SwitchesAndUsageErrors) {
    // The arguments, and "flags set|host|workbook" or the error.
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"/IE", "data.xlsx"}, "ie||data.xlsx"},
        {{"/data/ieee/run.xlsx"}, "||/data/ieee/run.xlsx"}, // a path with /ie inside
        {{"/ienolimits"}, "ie||"},                          // the switch inside a word
        {{"--batch", "set.xlsx", "--optimize", "--json", "/ie", "--host", "Embedded"},
         "batch optimize json ie|embedded|set.xlsx"},
        {{"--batch", "/ie", "set.xlsx", "--export"}, "batch export ie||set.xlsx"},
        {{"--batch"}, "error: --batch needs a workbook"},
        {{"--batch", "s.xlsx", "--optimize", "--method", "LM"}, "batch optimize lm||s.xlsx"},
        {{"--batch", "s.xlsx", "--gauss", "--factors", "3"}, "batch gauss 3||s.xlsx"},
        {{"--batch", "s.xlsx", "--factors", "2.5"},
         "error: --factors needs a whole number of factors, 1 or more"},
        {{"--gauss", "a.xlsx"},
         "error: --optimize, --method, --intervals, --gauss, --factors, "
         "--export and --json go with --batch"},
        {{"--batch", "s.xlsx", "--optimize", "--intervals", "Profile"},
         "batch optimize profile||s.xlsx"},
        {{"--batch", "s.xlsx", "--intervals", "jackknife"},
         "error: Unknown interval method \"jackknife\" (hessian or profile)"},
        {{"--batch", "s.xlsx", "--method"}, "error: --method needs a value (lm or descent)"},
        {{"--batch", "s.xlsx", "--method", "fast"},
         "error: Unknown method \"fast\" (lm or descent)"},
        {{"--host"}, "error: --host needs a value (embedded or libreoffice)"},
        {{"--host", "excel"}, "error: Unknown host \"excel\" (embedded or libreoffice)"},
        {{"--frobnicate"}, "error: Unknown option --frobnicate"},
        {{"a.xlsx", "b.xlsx"}, "error: More than one workbook given: b.xlsx"},
    };
    for (const auto& [args, parsed] : cases) {
        std::string error, got;
        if (auto cl = ParseCommandLine(args, error)) {
            for (auto [on, name] : {std::pair{cl->batch, " batch"},
                                    {cl->optimize, " optimize"},
                                    {cl->exportSolutions, " export"},
                                    {cl->json, " json"},
                                    {cl->noLimits, " ie"},
                                    {cl->gauss, " gauss"}})
                if (on) got += name;
            if (cl->factors) got += " " + std::to_string(cl->factors);
            if (cl->method) got += *cl->method == FitMethod::Descent ? " descent" : " lm";
            if (cl->intervals)
                got += *cl->intervals == IntervalMethod::Profile ? " profile" : " hessian";
            got = got.substr(got.empty() ? 0 : 1) + "|" + cl->host + "|" + cl->workbook;
        } else {
            got = "error: " + error;
        }
        EXPECT_EQ(got, parsed) << args[0];
    }
}

TEST(BatchSummaryTest, JsonLine) {
    BatchSummary s;
    s.ErrMsg = "say \"hi\"\n";
    s.RmsErr = 0.00123;
    s.nSol = 12;
    s.nWl = 3;
    s.species.resize(2);
    auto& complex = s.species[0];
    complex.name = "CoCl+";
    complex.initial = -216.5;
    complex.result = -217.25;
    complex.pm = 0.5;
    complex.free = true;
    complex.logK = 4.25;
    complex.logK_pm = 0.0125;
    s.rms = 0.001;
    complex.lo = -218.0, complex.determined = false; // one bound only
    s.correlation = {{1.0}};
    s.intervalNote = "CoCl+ is not determined";
    s.species[1].name = "Co+2";
    s.species[1].initial = s.species[1].result = -54.4;
    s.iterations = 7;
    s.evaluations = 120;
    s.seconds = 0.25;
    s.notes = {"raised"};
    EXPECT_EQ(SummaryJson(s),
              "{\"ErrCode\":0,\"ErrMsg\":\"say \\\"hi\\\"\\n\",\"RmsErr\":0.00123,\"rms\":0.001,"
              "\"nSol\":12,\"nWl\":3,\"species\":[{\"name\":\"CoCl+\",\"initial\":-216.5,"
              "\"result\":-217.25,\"pm\":0.5,\"free\":true,\"logK\":4.25,\"logK_pm\":0.0125,"
              "\"lo\":-218,\"hi\":\"n.d.\"},{\"name\":\"Co+2\",\"initial\":-54.4,\"result\":-54.4,"
              "\"pm\":0,\"free\":false,\"logK\":null,\"logK_pm\":null}],\"correlation\":[[1]],"
              "\"intervalNote\":\"CoCl+ is not determined\",\"iterations\":7,\"evaluations\":120,"
              "\"seconds\":0.25,\"notes\":[\"raised\"]}");
    const std::string text = SummaryText(s);
    for (const char* line :
         {"Mean err.: 0.001230\nRMS: 0.001000\n",
          "CoCl+                 -218.0000           n.d.\n", "CoCl+              1.000\n",
          "\nCoCl+ is not determined\n",
          "log K of formation from the basis:\nCoCl+                    4.2500     0.0125\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    s.RmsErr = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE(SummaryJson(s).find("\"RmsErr\":null"), std::string::npos) << "no NaN in JSON";
}

} // namespace
} // namespace lumora
