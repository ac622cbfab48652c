// Batch mode's answers and its summary.

#include "app/Batch.h"
#include "app/BatchUi.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>

namespace lumora {
namespace {

std::string Slurp(std::FILE* f) {
    std::rewind(f);
    std::string s;
    char buf[256];
    while (size_t n = std::fread(buf, 1, sizeof buf, f)) s.append(buf, n);
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
    EXPECT_NE(e.find("Optimization interrupted. Keep current data? Yes\n"), std::string::npos);
    EXPECT_NE(e.find("Too high correlation. Reduce accuracy? No\n"), std::string::npos);
    EXPECT_NE(e.find("Warning: Could not invert Hessian\n"), std::string::npos);
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
