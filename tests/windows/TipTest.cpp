// The tip window: placement (hand-computed twips), blank texts, the closing timer,
// re-use while shown and re-creation after it closed, and its pixels.

#include "ViewsFixture.h"
#include "windows/TipWindow.h"

#include <QElapsedTimer>
#include <QImage>

namespace lumora::test {
namespace {

class Tip : public ::testing::Test {
protected:
    void SetUp() override {
        if (TipWindow* tip = CurrentTip()) tip->close();
        QApplication::processEvents();
        ASSERT_EQ(CurrentTip(), nullptr);
    }
    void TearDown() override {
        if (TipWindow* tip = CurrentTip()) tip->close();
    }
    /// Lets events run for up to `ms` milliseconds or until done() holds.
    static void RunEvents(int ms, const std::function<bool()>& done) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms && !done()) QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    State st; // 15 twips per pixel
};

TEST_F(Tip, OriginCentresTheRoundedWidthAndEndsAboveThePoint) {
    struct Case {
        int32_t X, Y;
        double W, H;
        int32_t left, top;
    };
    const Case cases[] = {
        {5000, 3000, 900, 240, 4550, 2760},   // 900 twips wide: 450 to the left
        {5000, 3000, 901, 240, 4550, 2760},   // 901 \ 2 = 450
        {5000, 3000, 900.5, 240, 4550, 2760}, // 900.5 rounds to 900 (ties to even)
        {5000, 3000, 901.5, 240, 4549, 2760}, // 901.5 rounds to 902
        {0, 0, 15, 15, -7, -15},              // 15 \ 2 = 7: toward zero
    };
    for (const Case& c : cases) {
        int32_t left = 0, top = 0;
        TipOrigin(c.X, c.Y, c.W, c.H, left, top);
        EXPECT_EQ(left, c.left) << c.W;
        EXPECT_EQ(top, c.top) << c.W;
    }
}

TEST_F(Tip, BlankTextShowsNothing) {
    for (const char* text : {"", " ", "     "}) {
        ShowTip(st, 5000, 3000, text, 3);
        EXPECT_EQ(CurrentTip(), nullptr) << '"' << text << '"';
    }
    // A blank text leaves a tip that is shown as it was.
    ShowTip(st, 5000, 3000, "S1", 3);
    TipWindow* tip = CurrentTip();
    ASSERT_NE(tip, nullptr);
    const QRect before = tip->geometry();
    ShowTip(st, 9000, 9000, "  ", 0);
    EXPECT_EQ(CurrentTip(), tip);
    EXPECT_EQ(tip->geometry(), before);
    EXPECT_EQ(tip->Text().toStdString(), "S1");
}

TEST_F(Tip, SizeAndPlaceFollowTheText) {
    ShowTip(st, 5000, 3000, "Calculated", 3);
    TipWindow* tip = CurrentTip();
    ASSERT_NE(tip, nullptr);
    EXPECT_TRUE(tip->isVisible());
    EXPECT_TRUE(tip->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(tip->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(tip->Text().toStdString(), "Calculated");
    const QFontMetrics fm(tip->font());
    // Three pixels of margin either side and a one-pixel border: 8 x TwipsX + text.
    EXPECT_EQ(tip->width(), 8 + fm.horizontalAdvance("Calculated"));
    EXPECT_EQ(tip->height(), 2 + fm.height());
    const long w = std::lrint(tip->width() * 15.0);
    EXPECT_EQ(tip->x(), std::lround((5000 - w / 2) / 15.0));
    EXPECT_EQ(tip->y(), std::lround((3000 - tip->height() * 15.0) / 15.0));
    EXPECT_EQ(tip->Interval(), 3000);
    EXPECT_TRUE(tip->TimerActive());

    // A longer text while shown: the same window, wider, still centred.
    ShowTip(st, 5000, 3000, "A much longer solution name", 2.5f);
    EXPECT_EQ(CurrentTip(), tip);
    EXPECT_EQ(tip->width(), 8 + fm.horizontalAdvance("A much longer solution name"));
    EXPECT_EQ(tip->x(), std::lround((5000 - std::lrint(tip->width() * 15.0) / 2) / 15.0));
    EXPECT_EQ(tip->Interval(), 2500);
}

TEST_F(Tip, ZeroSecondsKeepsTheInterval) {
    ShowTip(st, 1000, 1000, "CoCl+", 3);
    TipWindow* tip = CurrentTip();
    ASSERT_NE(tip, nullptr);
    ShowTip(st, 2000, 2000, "CoCl4-2", 0);
    EXPECT_EQ(CurrentTip(), tip);
    EXPECT_EQ(tip->Interval(), 3000);
    EXPECT_TRUE(tip->TimerActive());
    EXPECT_EQ(tip->Text().toStdString(), "CoCl4-2");

    // A new window shown for 0 seconds has no timer: it stays.
    tip->close();
    ShowTip(st, 2000, 2000, "CoCl4-2", 0);
    ASSERT_NE(CurrentTip(), nullptr);
    EXPECT_EQ(CurrentTip()->Interval(), 0);
    EXPECT_FALSE(CurrentTip()->TimerActive());
    // Bad lifetimes leave the timer as it is instead of closing at once.
    for (float s : {-1.0f, std::nanf(""), 0.0001f}) {
        ShowTip(st, 2000, 2000, "CoCl4-2", s);
        ASSERT_NE(CurrentTip(), nullptr);
        EXPECT_FALSE(CurrentTip()->TimerActive()) << s;
    }
}

TEST_F(Tip, TimerClosesTheWindowAndTheNextTipMakesANewOne) {
    ShowTip(st, 3000, 3000, "S2", 0.05f);
    ASSERT_NE(CurrentTip(), nullptr);
    EXPECT_EQ(CurrentTip()->Interval(), 50);
    RunEvents(3000, [] { return CurrentTip() == nullptr; });
    EXPECT_EQ(CurrentTip(), nullptr);
    ShowTip(st, 3000, 3000, "S3", 3);
    ASSERT_NE(CurrentTip(), nullptr);
    EXPECT_TRUE(CurrentTip()->isVisible());
    EXPECT_EQ(CurrentTip()->Text().toStdString(), "S3");
}

TEST_F(Tip, DrawsTheTextOnTheTooltipColour) {
    ShowTip(st, 3000, 3000, "CoCl4-2", 3);
    TipWindow* tip = CurrentTip();
    ASSERT_NE(tip, nullptr);
    const QImage img = tip->grab().toImage();
    const QRgb back = tip->palette().color(QPalette::ToolTipBase).rgb();
    const QRgb text = tip->palette().color(QPalette::ToolTipText).rgb();
    ASSERT_NE(back, text);
    // Border all round, background in the margins, text pixels inside.
    EXPECT_EQ(img.pixel(0, 0) & 0xFFFFFF, text & 0xFFFFFF);
    EXPECT_EQ(img.pixel(img.width() - 1, img.height() - 1) & 0xFFFFFF, text & 0xFFFFFF);
    EXPECT_EQ(img.pixel(2, img.height() / 2) & 0xFFFFFF, back & 0xFFFFFF);
    int ink = 0;
    for (int y = 1; y < img.height() - 1; ++y)
        for (int x = 4; x < img.width() - 4; ++x)
            if ((img.pixel(x, y) & 0xFFFFFF) != (back & 0xFFFFFF)) ++ink;
    EXPECT_GT(ink, 10);
}

} // namespace
} // namespace lumora::test
