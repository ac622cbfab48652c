// The settings file and the command line.

#include "windows/Settings.h"
#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace lumora {
namespace {

namespace fs = std::filesystem;

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(LUMORA_TEST_BUILD_DIR) /
              ("settings_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    void Write(const std::string& text) {
        std::ofstream(dir / "Lumora.ini", std::ios::binary) << text;
    }
    std::string Read() {
        std::ifstream in(dir / "Lumora.ini", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    fs::path dir;
};

TEST_F(SettingsFile, ReadRules) {
    struct {
        const char* text;
        const char* workDir;
    } cases[] = {
        {"WorkDir=/home/u/data/\n", "/home/u/data/"},
        {"WorkDir=   /home/u/data/   \nWorkDir=/other/\n", "/home/u/data/"},
        {"WorkDir=/w/\r\n", "/w/"},
        {"workdir=/home/u/\n", ""},
        {"WORKDIR=/home/u/\n", ""},
        {" WorkDir=/home/u/\n", ""},
        {"\nWorkDir=/home/u/\n", ""},
        {"", ""},
        {"WorkDir=", ""},
    };
    for (const auto& c : cases) {
        Write(c.text);
        EXPECT_EQ(ReadWorkDir(dir.string()), c.workDir) << c.text;
    }
    fs::remove(dir / "Lumora.ini");
    EXPECT_EQ(ReadWorkDir(dir.string()), "");
    EXPECT_EQ(ReadWorkDir((dir / "missing").string()), "");
}

TEST_F(SettingsFile, RewriteKeepsOneLine) {
    Write("WorkDir=/a/\nsecond line\nthird\n");
    ASSERT_TRUE(WriteWorkDir(dir.string(), ReadWorkDir(dir.string())));
    EXPECT_EQ(Read(), "WorkDir=/a/\n");
    ASSERT_TRUE(WriteWorkDir(dir.string(), ""));
    EXPECT_EQ(Read(), "WorkDir=\n");
    EXPECT_FALSE(fs::exists(dir / "Lumora.ini.tmp"));
    EXPECT_FALSE(WriteWorkDir((dir / "no" / "such").string(), "/x/"));
}

TEST(CommandLineTest, Forms) {
    std::string err;
    auto cl = ParseCommandLine({"/IE", "data.xlsx"}, err);
    ASSERT_TRUE(cl);
    EXPECT_TRUE(cl->noLimits);
    EXPECT_EQ(cl->workbook, "data.xlsx");
    EXPECT_FALSE(cl->batch);

    cl = ParseCommandLine({"/data/ieee/run.xlsx"}, err);
    ASSERT_TRUE(cl);
    EXPECT_FALSE(cl->noLimits) << "a path with /ie inside is no switch";
    EXPECT_EQ(cl->workbook, "/data/ieee/run.xlsx");

    cl = ParseCommandLine({"/ienolimits"}, err);
    ASSERT_TRUE(cl);
    EXPECT_TRUE(cl->noLimits) << "the switch inside a longer word";
    EXPECT_EQ(cl->workbook, "");

    cl = ParseCommandLine(
        {"--batch", "set.xlsx", "--optimize", "--json", "/ie", "--host", "Embedded"}, err);
    ASSERT_TRUE(cl);
    EXPECT_TRUE(cl->batch && cl->optimize && cl->json && cl->noLimits);
    EXPECT_FALSE(cl->exportSolutions);
    EXPECT_EQ(cl->host, "embedded");
    EXPECT_EQ(cl->workbook, "set.xlsx");

    EXPECT_FALSE(ParseCommandLine({"--batch"}, err));
    EXPECT_FALSE(err.empty());
    EXPECT_FALSE(ParseCommandLine({"--optimize", "a.xlsx"}, err));
    EXPECT_FALSE(ParseCommandLine({"--host", "excel"}, err));
    EXPECT_FALSE(ParseCommandLine({"--frobnicate"}, err));
    EXPECT_FALSE(ParseCommandLine({"a.xlsx", "b.xlsx"}, err));
}

} // namespace
} // namespace lumora
