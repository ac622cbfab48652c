// Bounded arrays, run-time error helpers and number/text conversions.

#include "FuzzyCompare.h"
#include "TestUi.h"
#include "base/Bounded.h"
#include "base/NumText.h"
#include "base/RuntimeError.h"
#include "dataset/Reread.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <utility>
#include <vector>

namespace lumora {
namespace {

using test::ErrorOf;

TEST(Bounded, SubscriptsAndRedimPreserve) {
    Vec<int> v;
    EXPECT_FALSE(v.Dimensioned());
    v.Redim(3);
    EXPECT_EQ(v.UBound(), 3);
    Mat<double> m(2, 1);
    for (const auto& bad : std::vector<std::function<void()>>{[&] { v(4); }, [&] { v(-1); },
                                                              [&] { m(3, 0); }, [&] { m(0, 2); }})
        EXPECT_EQ(ErrorOf(bad), "Subscript out of range");
    v(3) = 7;
    v.RedimPreserve(5);
    EXPECT_TRUE(v(3) == 7 && v(5) == 0);
    v.Redim(5);
    EXPECT_EQ(v(3), 0);
    m(2, 1) = 4.5;
    m(0, 0) = 1;
    m.RedimPreserve(2, 4); // growing the last bound keeps everything
    EXPECT_TRUE(m(2, 1) == 4.5 && m(0, 0) == 1 && m(2, 4) == 0);
    m.RedimPreserve(3, 1); // growing the first bound too
    EXPECT_TRUE(m(2, 1) == 4.5 && m(3, 1) == 0 && m.UBound1() == 3 && m.UBound2() == 1);
}

TEST(RuntimeErrors, MessagesAndRounding) {
    const std::pair<std::function<void()>, const char*> errors[] = {
        {[] { CheckedDiv(1, 0); }, "Division by zero"},
        {[] { CheckedDiv(1e308, 1e-308); }, "Overflow"},
        {[] { CheckedSqrt(-1e-300); }, "Invalid procedure call or argument"},
        {[] { CheckedExp(1000); }, "Overflow"},
        {[] { CInt16(32767.6); }, "Overflow"},
        {[] { CInt16(std::nan("")); }, "Overflow"},
        {[] { CSng(1e39); }, "Overflow"},
        {[] { TextToDouble("x"); }, "Type mismatch"}};
    for (const auto& [f, text] : errors) EXPECT_EQ(ErrorOf(f), text);
    EXPECT_EQ(CheckedSqrt(0.0), 0.0);
    // Ties round to even.
    for (const auto& [x, n] : {std::pair{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-32768.4, -32768}})
        EXPECT_EQ(CInt16(x), n) << x;
}

// Up to 15 significant digits, exponents from 1e15 and below 1e-4, read back; fixed and
// scientific patterns with exact ties away from zero; the decimal separator both ways.
TEST(NumText, NumbersToTextAndBack) {
    SetDecimalSeparator('.');
    const double xs[] = {0, 1e-5, 0.0001, 1e15, 123456789012345.0, -1234.5678};
    const char* texts[] = {"0", "1E-05", "0.0001", "1E+15", "123456789012345", "-1234.5678"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(NumberToText(xs[i]), texts[i]) << xs[i];
        EXPECT_EQ(TextToNumber(texts[i]).value(), xs[i]) << texts[i];
    }
    EXPECT_EQ(NumberToText(0.1 + 0.2), "0.3");
    EXPECT_EQ(NumberToText(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(SingleToText(-56.687f), "-56.687");
    EXPECT_TRUE(Str(5) == " 5" && Str(-5) == "-5");
    for (const auto& [text, x] : {std::pair{"  12.5 ", 12.5}, {"+.5", 0.5}, {"5.", 5.0}})
        EXPECT_EQ(TextToNumber(text).value(), x) << text;
    for (const char* bad : {"", " ", "abc", "1.2.3", "1e", "--1", ".", "12 kg", "0x10", "1e999"})
        EXPECT_FALSE(TextToNumber(bad).has_value()) << bad;
    for (const auto& [text, x] : {std::pair{"3 bands", 3.0}, {"  2.5e1x", 25.0}, {"bands", 0.0}})
        EXPECT_EQ(Val(text), x) << text;
    EXPECT_EQ(FormatNumber(9.999, "0.00E+00"), "1.00E+01");
    EXPECT_EQ(FormatNumber(0, "0.00E+00"), "0.00E+00");
    EXPECT_EQ(FormatNumber(250, "0E+0"), "3E+2");
    EXPECT_EQ(FormatNumber(0.125, "0.00"), "0.13");
    EXPECT_EQ(FormatNumber(-0.0001, "0.00"), "0.00");
    EXPECT_EQ(FormatNumber(0.25, "#.00"), ".25");
    EXPECT_EQ(FormatNumber(-1234567.891, "##########0.00"), "-1234567.89");
    EXPECT_TRUE(Trim("  a b  ") == "a b" && LCase("Corrected") == "corrected");
    SetDecimalSeparator(',');
    EXPECT_EQ(NumberToText(2.25), "2,25");
    EXPECT_EQ(TextToNumber("2,25").value(), 2.25);
    EXPECT_FALSE(TextToNumber("2.25").has_value());
    SetDecimalSeparator('.');
}

TEST(Reread, OnlyWhenChangedAndReportsFailuresLikeOpenRefresh) {
    State st;
    test::TestUi ui(st);
    st.xlsWatch = std::make_unique<SheetWatcher>();
    int reads = 0;
    int16_t code = 0;
    std::string message;
    st.readOverride = [&](State& s) { ++reads, s.ErrCode = code, s.ErrMsg = message; };

    EXPECT_EQ(RereadIfChanged(st, ReadRequest{}), RereadResult::Unchanged);

    st.xlsWatch->Changed = true;
    EXPECT_EQ(RereadIfChanged(st, ReadRequest{}), RereadResult::Reread);
    EXPECT_TRUE(reads == 1 && ui.messages.empty()); // read once, and only when changed

    code = 4;
    message = "Incorrect keyword (row=3, col=1)";
    EXPECT_EQ(RereadIfChanged(st, ReadRequest{}), RereadResult::Failed);
    EXPECT_EQ(st.ErrCode, 4);
    EXPECT_EQ(st.ErrMsg, "Source data: Incorrect keyword (row=3, col=1)");
    test::ExpectMessage(ui, "Source data: Incorrect keyword (row=3, col=1)  ");

    // Nothing that can read the sheet: the stale state is refused, not used.
    st.readOverride = nullptr;
    st.ErrCode = 0;
    EXPECT_EQ(RereadIfChanged(st, ReadRequest{}), RereadResult::Failed);
    EXPECT_EQ(st.ErrCode, -1);
}

} // namespace
} // namespace lumora
