// The F1 command and the "Reverse Indicator Function" window on seeded data of known rank,
// offscreen: what it shows, how closing it stores the chosen number of factors, and the
// data for which it says why it cannot analyse them.

#include "windows/FactorWindow.h"

#include "SyntheticAbsorbances.h"
#include "TestPort.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

namespace lumora::test {
namespace {

class FactorWindowTest : public ::testing::Test {
protected:
    FactorWindowTest() { MakeSpectra(st, Synthetic{10, 80, 2, 1e-3, 2}); }

    /// F1, with `inside` run while the window is shown; false when it never was.
    bool RunF1(const std::function<void(FactorWindow&)>& inside) {
        return WhileShown(
            window, [&] { FactorAnalysis(st, port, 0, &window); },
            [&] {
                EXPECT_TRUE(window.isModal());
                inside(window);
            });
    }

    ChartMisuseFails charts;
    State st;
    TestUi ui{st};
    TestPort port{ui};
    FactorWindow window{st};
};

// Rank 2 with noise of 1E-3: two factors estimated, the error to one digit, and the
// curve of R over 0..10 factors peaking at the estimate and ending at 0. A stored choice
// beyond the list (made for a larger data set) is forgotten in favour of the estimate.
TEST_F(FactorWindowTest, ShowsTheIndicatorTheErrorAndTheCounts) {
    st.nFactors = 10;
    EXPECT_TRUE(RunF1([&](FactorWindow& w) {
        EXPECT_EQ(w.errorLabel->text().toStdString(), "Estimated RMS error is 1E-3");
        ASSERT_EQ(w.list->count(), 9); // " 1" .. " 9"
        EXPECT_EQ(w.list->itemText(8).toStdString(), " 9");
        EXPECT_EQ(w.list->currentText().toStdString(), " 2");
        EXPECT_FALSE(w.check->isChecked());
        EXPECT_FALSE(w.list->isEnabled());
        ChartWidget& ch = *w.chart;
        ASSERT_EQ(ch.nPoints(), 11);
        for (int i = 1; i <= 11; ++i) EXPECT_EQ(ch.PointData(int16_t(i), 0), float(i - 1));
        EXPECT_EQ(ch.PointData(11, 1), 0.0f);
        EXPECT_GT(ch.PointData(3, 1), ch.PointData(2, 1));
        EXPECT_GT(ch.PointData(3, 1), ch.PointData(4, 1));
        // Ticking the box and pressing Esc stores the count shown
        w.check->setChecked(true);
        EXPECT_TRUE(w.list->isEnabled());
        w.list->setCurrentIndex(2);
        QTest::keyClick(&w, Qt::Key_Escape);
        EXPECT_FALSE(w.isVisible());
    }));
    EXPECT_EQ(st.nFactors, 3);
    EXPECT_TRUE(ui.messages.empty());
    // Shown again, the stored choice is ticked; unticking drops it.
    EXPECT_TRUE(RunF1([&](FactorWindow& w) {
        EXPECT_TRUE(w.check->isChecked());
        EXPECT_EQ(w.list->currentText().toStdString(), " 3");
        w.check->setChecked(false);
    }));
    EXPECT_EQ(st.nFactors, 0);
}

// Data no factor analysis can use: either the window says so, or a message comes instead.
TEST_F(FactorWindowTest, DataThatCannotBeAnalyzed) {
    const struct {
        const char* name;
        std::function<void(State&)> spoil;
        std::string label, message; // label "": not shown
    } cases[] = {
        {"identical spectra",
         [](State& s) {
             for (int j = 2; j <= s.nSol; ++j)
                 for (int w = 1; w <= s.nWl; ++w) s.AbsM(j, w) = s.AbsM(1, w);
         },
         "Data are not factor analyzable", ""},
        {"no solutions", [](State& s) { s.nSol = 0; }, "Data are not factor analyzable", ""},
        {"negative weight", [](State& s) { s.SolWeight(3) = -0.5f; }, "",
         "Factor analysis failed: Invalid procedure call or argument  "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MakeSpectra(st, Synthetic{10, 80, 2, 1e-3, 2});
        st.nFactors = 2;
        ui.messages.clear();
        c.spoil(st);
        const bool shown = RunF1([&](FactorWindow& w) {
            EXPECT_EQ(w.errorLabel->text().toStdString(), c.label);
            EXPECT_EQ(w.list->count(), 0);
            w.check->setChecked(true); // ticked, but no count to show
        });
        EXPECT_EQ(shown, !c.label.empty());
        EXPECT_EQ(st.nFactors, shown ? 0 : 2);
        ExpectMessage(ui, c.message);
        st.ErrCode = 0;
    }
}

} // namespace
} // namespace lumora::test
