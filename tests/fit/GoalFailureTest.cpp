// How the goal function fails: run-time errors, solver failures and the
// interrupt, each with its message (or none) and never a NaN left behind.

#include "GaussTableRows.h"
#include "fit/Goal.h"

#include "GoalFixture.h"
#include "model/GaussBand.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

void FillData(State& st) {
    for (int j = 1; j <= st.nSol; ++j)
        for (int w = 1; w <= st.nWl; ++w) st.AbsM(j, w) = 0.1 * j + 0.03 * w * w;
}

struct RuntimeCase {
    const char* name;
    std::function<void(State&)> spoil;
    const char* description;
};

TEST(GoalFailure, RunTimeErrorsShowTheirDescription) {
    const std::vector<RuntimeCase> cases = {
        {"species absent everywhere",
         [](State& st) {
             for (int j = 1; j <= st.nSol; ++j) st.Bulk(2, j) = 0.0;
         },
         "Division by zero"},
        {"solution without valid values",
         [](State& st) {
             for (int w = 1; w <= st.nWl; ++w) st.AbsM(3, w) = kMissing;
         },
         "Division by zero"},
        {"no water in the corrected run", [](State& st) { st.BulkCorr(0, 2) = 0.0; },
         "Division by zero"},
        {"negative weight", [](State& st) { st.SolWeight(4) = -1.0f; },
         "Invalid procedure call or argument"},
        {"Gibbs energy beyond single precision", [](State& st) { st.G0(1) = 1e300; }, "Overflow"},
    };
    for (const RuntimeCase& rc : cases) {
        test::GoalData d = test::RandomData(2, 6, 4, 2u, false);
        State st;
        test::TestUi ui(st);
        test::SetUpState(st, d);
        FillData(st);
        rc.spoil(st);
        const double got = Goal(st, 0);
        EXPECT_EQ(st.ErrCode, -1) << rc.name;
        EXPECT_EQ(got, 0.0) << rc.name;
        ASSERT_EQ(ui.messages.size(), 1u) << rc.name;
        EXPECT_EQ(ui.messages[0].text,
                  std::string("Cannot calculate goal function: ") + rc.description)
            << rc.name;
        EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
        EXPECT_TRUE(test::AllFinite(st)) << rc.name;
    }
}

TEST(GoalFailure, AsManySolutionsAsSpeciesDividesByZero) {
    test::GoalData d = test::RandomData(3, 3, 4, 6u, false);
    State st;
    test::TestUi ui(st);
    test::SetUpState(st, d);
    FillData(st);
    const double got = Goal(st, 0);
    EXPECT_EQ(st.ErrCode, -1);
    EXPECT_EQ(got, 0.0);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Cannot calculate goal function: Division by zero");
    EXPECT_TRUE(test::AllFinite(st));
}

TEST(GoalFailure, SolverFailureShowsItsMessageUnlessOk) {
    struct Case {
        long failAt;
        std::string message;
        bool shown;
    };
    for (const Case& c :
         {Case{1, "Equilibrium not found", true}, Case{4, "Mass balance failed", true},
          Case{3, "OK", false}, Case{2, "", false}}) {
        test::GoalData d = test::RandomData(2, 6, 4, 2u, false);
        State st;
        test::TestUi ui(st);
        test::SetUpState(st, d);
        FillData(st);
        test::Fake(st).failAtCall = c.failAt;
        test::Fake(st).failMessage = c.message;
        Goal(st, 0);
        EXPECT_EQ(st.ErrCode, -1);
        EXPECT_EQ(test::Fake(st).calls, c.failAt) << "no call after the failure";
        if (c.shown) {
            ASSERT_EQ(ui.messages.size(), 1u);
            EXPECT_EQ(ui.messages[0].text, c.message);
            EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
        } else {
            EXPECT_TRUE(ui.messages.empty());
        }
    }
}

TEST(GoalFailure, InterruptAtAnyYieldStopsSilently) {
    for (int mode : {0, 1}) {
        // Count the yields of one whole evaluation first.
        auto setUp = [&](State& st) {
            test::GoalData d = test::RandomData(2, 5, 6, 8u, false);
            test::SetUpState(st, d);
            FillData(st);
            if (mode == 1) {
                st.FitMode = 1;
                // Data from bands near the ones the refinement starts from.
                test::FillGaussTab(st, {{1, 1.0, 0.1, 3.0}, {2, 1.05, 0.1, 3.0}});
                for (int w = 1; w <= st.nWl; ++w) {
                    const double x = GaussAbscissa(st, st.AbsM(0, w));
                    for (int j = 1; j <= st.nSol; ++j)
                        st.AbsM(j, w) =
                            d.conc[1][j] * GaussBand(st, 1, x) + d.conc[2][j] * GaussBand(st, 2, x);
                }
                st.GaussTab(1, 1) += 0.01;
                st.GaussTab(3, 2) -= 0.05;
                st.GaussFixed.Redim(6);
            }
        };
        long total = 0;
        {
            State st;
            test::TestUi ui(st);
            setUp(st);
            Goal(st, 0);
            ASSERT_EQ(st.ErrCode, 0);
            total = ui.yields;
            // Every solver call and every wavelength yields.
            EXPECT_GE(total, 2 * st.nSol + (mode == 0 ? 2 * st.nWl : 1));
        }
        for (long n = 1; n <= total; ++n) {
            State st;
            test::TestUi ui(st);
            setUp(st);
            ui.interruptAtYield = n;
            const Mat<double> bands = st.GaussTab;
            Goal(st, -1);
            EXPECT_EQ(st.ErrCode, kInterrupt) << "mode " << mode << " yield " << n;
            EXPECT_TRUE(ui.messages.empty()) << "mode " << mode << " yield " << n;
            EXPECT_TRUE(ui.questions.empty());
            EXPECT_TRUE(st.GaussTab == bands);
        }
    }
}

TEST(GoalFailure, BandPinnedToTheEndOfTheSpectrumIsRefused) {
    // Data that pull a band's centre beyond the spectrum: each limited step halves
    // the distance to the end until nothing can move any more.
    test::GoalData d = test::RandomData(2, 5, 6, 8u, false);
    State st;
    test::TestUi ui(st);
    test::SetUpState(st, d);
    FillData(st);
    st.FitMode = 1;
    test::FillGaussTab(st, {{1, 1.1, 0.3, 3.0}, {2, 1.3, 0.3, 3.0}});
    st.GaussFixed.Redim(6);
    ui.interruptAtYield = 100000; // a safety net for the test only
    Goal(st, 0);
    EXPECT_EQ(st.ErrCode, -1);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Cannot refine Gaussians. Try another set  ");
    EXPECT_TRUE(test::AllFinite(st));
}

TEST(GoalFailure, CountsEveryCall) {
    test::GoalData d = test::RandomData(2, 6, 4, 2u, false);
    State st;
    test::TestUi ui(st);
    test::SetUpState(st, d);
    FillData(st);
    Goal(st, 0);
    Goal(st, -1);
    test::Fake(st).failAtCall = test::Fake(st).calls + 1;
    Goal(st, 0);
    EXPECT_EQ(st.GoalCalls, 3);
}

TEST(GoalFailure, MissingSolverIsARunTimeError) {
    test::GoalData d = test::RandomData(2, 6, 4, 2u, false);
    State st;
    test::TestUi ui(st);
    test::SetUpState(st, d);
    FillData(st);
    st.solver.reset();
    Goal(st, 0);
    EXPECT_EQ(st.ErrCode, -1);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text.rfind("Cannot calculate goal function: ", 0), 0u);
}

} // namespace
} // namespace lumora
