// The F1 command and the "Reverse Indicator Function" window, offscreen: what the
// window shows for a known data set, how closing it stores the chosen number of
// factors, and the cases in which it is not shown at all.

#include "windows/FactorWindow.h"

#include "SyntheticAbsorbances.h"
#include "TestPort.h"
#include "TestUi.h"
#include "base/NumText.h"
#include "chart/ChartMessage.h"
#include "chart/ChartWidget.h"
#include "linalg/FactorAnalysis.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>

#include <functional>

namespace lumora::test {
namespace {

class FactorWindowTest : public ::testing::Test {
protected:
    FactorWindowTest() {
        SetChartMessageSink([this](const std::string& t) { chartMessages.push_back(t); });
        MakeSpectra(st, Synthetic{10, 80, 2, 1e-3, 2});
    }
    ~FactorWindowTest() override { SetChartMessageSink({}); }

    /// Runs F1; `inside` sees the window while it is shown modally, then it is closed
    /// (unless `inside` closed it). Returns whether the window was shown.
    bool RunF1(const std::function<void(FactorWindow&)>& inside = {}) {
        bool shown = false;
        QTimer::singleShot(0, &window, [&] {
            shown = window.isVisible() && window.isModal();
            if (inside) inside(window);
            if (window.isVisible()) window.close();
        });
        FactorAnalysis(st, port, 0, &window);
        QApplication::processEvents(); // a timer that found no window fires here
        return shown;
    }

    std::vector<std::string> Items() const {
        std::vector<std::string> items;
        for (int i = 0; i < window.Combo->count(); ++i)
            items.push_back(window.Combo->itemText(i).toStdString());
        return items;
    }

    static void PressEsc(QWidget& w) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&w, &press);
    }

    State st;
    TestUi ui{st};
    TestPort port{ui};
    FactorWindow window{st};
    std::vector<std::string> chartMessages;
};

TEST_F(FactorWindowTest, ShowsTheIndicatorTheErrorAndTheCounts) {
    const FactorResult r = AnalyzeFactors(st.nSol, st.nWl, st.AbsM, st.SolWeight);
    ASSERT_EQ(r.nf, 2);
    ASSERT_EQ(r.c, 10);
    const bool shown = RunF1([&](FactorWindow& w) {
        EXPECT_EQ(w.windowTitle().toStdString(), "Reverse Indicator Function");
        EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_EQ(w.Check->text().toStdString(), "Try to reduce errors in data matrix");
        EXPECT_EQ(w.lblFactors->text().toStdString(), "Number of factors");
        // Noise of 1e-3 per absorbance, one significant digit.
        EXPECT_EQ(w.lblError->text().toStdString(), "Estimated RMS error is 1E-3");
        EXPECT_EQ(Items(),
                  (std::vector<std::string>{" 1", " 2", " 3", " 4", " 5", " 6", " 7", " 8", " 9"}));
        EXPECT_EQ(w.Combo->currentText().toStdString(), " 2");
        EXPECT_FALSE(w.Check->isChecked());
        EXPECT_FALSE(w.Combo->isEnabled());
        // The curve: R against 0..c factors, ending at 0.
        ChartWidget& ch = *w.Chart;
        ASSERT_EQ(ch.nSeries(), 1);
        ASSERT_EQ(ch.nPoints(), 11);
        EXPECT_EQ(ch.XAxisMax(), 10.0f);
        EXPECT_EQ(ch.XAxisUnit(), 1.0f);
        for (int i = 1; i <= 10; ++i) {
            EXPECT_EQ(ch.PointData(static_cast<int16_t>(i), 0), static_cast<float>(i - 1));
            EXPECT_EQ(ch.PointData(static_cast<int16_t>(i), 1),
                      static_cast<float>(r.indicator[i - 1]));
        }
        EXPECT_EQ(ch.PointData(11, 0), 10.0f);
        EXPECT_EQ(ch.PointData(11, 1), 0.0f);
        // The peak of the curve is at the chosen count.
        EXPECT_GT(ch.PointData(3, 1), ch.PointData(2, 1));
        EXPECT_GT(ch.PointData(3, 1), ch.PointData(4, 1));
    });
    EXPECT_TRUE(shown);
    EXPECT_EQ(st.nFactors, 0); // closed unticked
    EXPECT_TRUE(chartMessages.empty());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(FactorWindowTest, TickingTheBoxAndPressingEscStoresTheCountShown) {
    RunF1([&](FactorWindow& w) {
        w.Check->setChecked(true);
        EXPECT_TRUE(w.Combo->isEnabled());
        EXPECT_EQ(w.focusWidget(), w.Combo);
        w.Combo->setCurrentIndex(2);
        PressEsc(w);
        EXPECT_FALSE(w.isVisible());
    });
    EXPECT_EQ(st.nFactors, 3);
}

TEST_F(FactorWindowTest, AStoredChoiceIsShownAndKept) {
    st.nFactors = 3;
    RunF1([&](FactorWindow& w) {
        EXPECT_TRUE(w.Check->isChecked());
        EXPECT_TRUE(w.Combo->isEnabled());
        EXPECT_EQ(w.Combo->currentText().toStdString(), " 3");
    });
    EXPECT_EQ(st.nFactors, 3);
}

TEST_F(FactorWindowTest, UntickingDropsTheChoiceEvenWithACountSelected) {
    st.nFactors = 4;
    RunF1([&](FactorWindow& w) {
        w.Check->setChecked(false);
        EXPECT_FALSE(w.Combo->isEnabled());
        EXPECT_EQ(w.Combo->currentText().toStdString(), " 4");
    });
    EXPECT_EQ(st.nFactors, 0);
}

TEST_F(FactorWindowTest, AChoiceBeyondTheListIsForgotten) {
    for (int16_t stale : {10, 25}) {
        SCOPED_TRACE(stale);
        st.nFactors = stale; // chosen for a larger data set
        RunF1([&](FactorWindow& w) {
            EXPECT_FALSE(w.Check->isChecked());
            EXPECT_EQ(w.Combo->currentText().toStdString(), " 2"); // the estimate instead
        });
        EXPECT_EQ(st.nFactors, 0);
    }
}

TEST_F(FactorWindowTest, IdenticalSpectraAreNotFactorAnalyzable) {
    for (int j = 2; j <= st.nSol; ++j)
        for (int w = 1; w <= st.nWl; ++w) st.AbsM(j, w) = st.AbsM(1, w);
    st.nFactors = 2;
    RunF1([&](FactorWindow& w) {
        EXPECT_EQ(w.lblError->text().toStdString(), "Data are not factor analyzable");
        EXPECT_EQ(w.Combo->count(), 0);
        EXPECT_EQ(w.Chart->nPoints(), 2); // one column counts: 0 factors and the end point
        w.Check->setChecked(true);        // ticked, but no count to show
    });
    EXPECT_EQ(st.nFactors, 0);
    EXPECT_TRUE(chartMessages.empty());
}

TEST_F(FactorWindowTest, TheWindowIsFilledAfreshEachTime) {
    RunF1();
    MakeSpectra(st, Synthetic{6, 80, 3, 1e-3, 7});
    RunF1([&](FactorWindow& w) {
        EXPECT_EQ(Items(), (std::vector<std::string>{" 1", " 2", " 3", " 4", " 5"}));
        EXPECT_EQ(w.Combo->currentText().toStdString(), " 3");
        EXPECT_EQ(w.Chart->nPoints(), 7);
    });
}

TEST_F(FactorWindowTest, OtherModesComputeOnlyAndAnswerInErrCode) {
    FactorAnalysis(st, port, 1, nullptr);
    EXPECT_EQ(st.ErrCode, 2);
    st.ErrCode = 0;
    MakeSpectra(st, Synthetic{12, 100, 3, 5e-4, 3});
    FactorAnalysis(st, port, -1, &window);
    EXPECT_EQ(st.ErrCode, 3);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(st.nFactors, 0);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(FactorWindowTest, NothingWhileOptimizeIsDisabled) {
    ui.buttonsOn[2] = false;
    st.nFactors = 2;
    EXPECT_FALSE(RunF1());
    FactorAnalysis(st, port, 1, nullptr);
    EXPECT_EQ(st.ErrCode, 0);
    EXPECT_EQ(st.nFactors, 2);
}

TEST_F(FactorWindowTest, AnEditedSheetIsReadFirst) {
    st.xlsWatch = std::make_unique<SheetWatcher>();
    st.xlsWatch->Changed = true;
    st.readOverride = [](State& s) {
        MakeSpectra(s, Synthetic{8, 80, 1, 1e-3, 9});
        s.xlsWatch->Changed = false;
        s.ErrCode = 0;
    };
    RunF1([&](FactorWindow& w) { EXPECT_EQ(w.Combo->currentText().toStdString(), " 1"); });
}

TEST_F(FactorWindowTest, AnEditedSheetThatNoLongerReadsShowsTheReadersMessageOnly) {
    st.xlsWatch = std::make_unique<SheetWatcher>();
    st.xlsWatch->Changed = true;
    st.readOverride = [](State& s) {
        s.ErrCode = 12;
        s.ErrMsg = "Wavelength is not a number (row=30, col=1)";
    };
    EXPECT_FALSE(RunF1());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Source data: Wavelength is not a number (row=30, col=1)  ");
    EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
}

TEST_F(FactorWindowTest, ANegativeWeightIsReportedNotACrash) {
    st.SolWeight(3) = -0.5f;
    EXPECT_FALSE(RunF1());
    EXPECT_EQ(st.ErrCode, -1);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Factor analysis failed: Invalid procedure call or argument  ");
    EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
}

TEST_F(FactorWindowTest, StateWithoutSolutionsShowsNotAnalyzable) {
    st.nSol = 0;
    RunF1([&](FactorWindow& w) {
        EXPECT_EQ(w.lblError->text().toStdString(), "Data are not factor analyzable");
        EXPECT_EQ(w.Chart->nPoints(), 1);
    });
    EXPECT_EQ(st.nFactors, 0);
}

} // namespace
} // namespace lumora::test
