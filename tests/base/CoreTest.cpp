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
#include <limits>

namespace lumora {
namespace {

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.Description();
    }
    return "";
}

TEST(Bounded, RedimAndPreserve) {
    Vec<int> v;
    EXPECT_FALSE(v.Dimensioned());
    EXPECT_EQ(ErrorOf([&] { v(0); }), "Subscript out of range");
    v.Redim(3);
    EXPECT_EQ(v.UBound(), 3);
    v(3) = 7;
    EXPECT_EQ(ErrorOf([&] { v(4); }), "Subscript out of range");
    EXPECT_EQ(ErrorOf([&] { v(-1); }), "Subscript out of range");
    v.RedimPreserve(5);
    EXPECT_EQ(v(3), 7);
    EXPECT_EQ(v(5), 0);
    v.Redim(5);
    EXPECT_EQ(v(3), 0);

    Mat<double> m(2, 1);
    m(2, 1) = 4.5;
    m(0, 0) = 1;
    EXPECT_EQ(ErrorOf([&] { m(3, 0); }), "Subscript out of range");
    EXPECT_EQ(ErrorOf([&] { m(0, 2); }), "Subscript out of range");
    m.RedimPreserve(2, 4); // growing the last bound keeps everything
    EXPECT_EQ(m(2, 1), 4.5);
    EXPECT_EQ(m(0, 0), 1);
    EXPECT_EQ(m(2, 4), 0);
    m.RedimPreserve(3, 1); // growing the first bound too
    EXPECT_EQ(m(2, 1), 4.5);
    EXPECT_EQ(m(3, 1), 0);
    EXPECT_EQ(m.UBound1(), 3);
    EXPECT_EQ(m.UBound2(), 1);
}

TEST(RuntimeErrors, Helpers) {
    EXPECT_EQ(ErrorOf([] { CheckedDiv(1, 0); }), "Division by zero");
    EXPECT_EQ(ErrorOf([] { CheckedDiv(1e308, 1e-308); }), "Overflow");
    EXPECT_EQ(ErrorOf([] { CheckedSqrt(-1e-300); }), "Invalid procedure call or argument");
    EXPECT_EQ(ErrorOf([] { CheckedExp(1000); }), "Overflow");
    EXPECT_EQ(ErrorOf([] { CInt16(32767.6); }), "Overflow");
    EXPECT_EQ(ErrorOf([] { CInt16(std::nan("")); }), "Overflow");
    EXPECT_EQ(ErrorOf([] { CSng(1e39); }), "Overflow");
    EXPECT_EQ(CheckedSqrt(0.0), 0.0);
    // Ties round to even, as the original's conversions do.
    EXPECT_EQ(CInt16(2.5), 2);
    EXPECT_EQ(CInt16(3.5), 4);
    EXPECT_EQ(CInt16(-2.5), -2);
    EXPECT_EQ(CInt16(-32768.4), -32768);
}

TEST(NumText, NumberToText) {
    SetDecimalSeparator('.');
    struct {
        double x;
        const char* text;
    } cases[] = {{0, "0"},
                 {0.5, "0.5"},
                 {-3, "-3"},
                 {1e-5, "1E-05"},
                 {0.0001, "0.0001"},
                 {123456789012345.0, "123456789012345"},
                 {1e15, "1E+15"},
                 {1.5e20, "1.5E+20"},
                 {0.1 + 0.2, "0.3"},
                 {1.0 / 3.0, "0.333333333333333"},
                 {-1234.5678, "-1234.5678"}};
    for (const auto& c : cases) EXPECT_EQ(NumberToText(c.x), c.text) << c.x;
    EXPECT_EQ(SingleToText(0.1f), "0.1");
    EXPECT_EQ(SingleToText(-56.687f), "-56.687");
    EXPECT_EQ(Str(5), " 5");
    EXPECT_EQ(Str(-5), "-5");
    SetDecimalSeparator(',');
    EXPECT_EQ(NumberToText(2.25), "2,25");
    EXPECT_EQ(TextToNumber("2,25").value(), 2.25);
    EXPECT_FALSE(TextToNumber("2.25").has_value());
    SetDecimalSeparator('.');
}

TEST(NumText, TextToNumber) {
    SetDecimalSeparator('.');
    EXPECT_EQ(TextToNumber("  12.5 ").value(), 12.5);
    EXPECT_EQ(TextToNumber("-1e3").value(), -1000);
    EXPECT_EQ(TextToNumber("+.5").value(), 0.5);
    EXPECT_EQ(TextToNumber("5.").value(), 5);
    EXPECT_EQ(TextToNumber("1E-05").value(), 1e-5);
    for (const char* bad : {"", " ", "abc", "1.2.3", "1e", "--1", ".", "12 kg", "0x10", "1e999"})
        EXPECT_FALSE(TextToNumber(bad).has_value()) << bad;
    EXPECT_EQ(ErrorOf([] { TextToDouble("x"); }), "Type mismatch");
    EXPECT_EQ(Val("3 bands"), 3);
    EXPECT_EQ(Val("  2.5e1x"), 25);
    EXPECT_EQ(Val("bands"), 0);
    EXPECT_EQ(Val(""), 0);
}

TEST(NumText, FormatPatterns) {
    SetDecimalSeparator('.');
    EXPECT_EQ(FormatNumber(0.0123456789, "0.000000"), "0.012346");
    EXPECT_EQ(FormatNumber(1234.5, "0.000000"), "1234.500000");
    EXPECT_EQ(FormatNumber(0.00123, "0.00E+00"), "1.23E-03");
    EXPECT_EQ(FormatNumber(12300, "0.00E+00"), "1.23E+04");
    EXPECT_EQ(FormatNumber(9.999, "0.00E+00"), "1.00E+01");
    EXPECT_EQ(FormatNumber(0.001, "0E+0"), "1E-3");
    EXPECT_EQ(FormatNumber(250, "0E+0"), "3E+2"); // exact ties round away from zero
    EXPECT_EQ(FormatNumber(-0.05, "0E+0"), "-5E-2");
    EXPECT_EQ(FormatNumber(0.125, "0.00"), "0.13");
    EXPECT_EQ(FormatNumber(2.5, "0"), "3");
    EXPECT_EQ(FormatNumber(0, "0.00E+00"), "0.00E+00");
    EXPECT_EQ(FormatNumber(3.14159, "##########0.00"), "3.14");
    EXPECT_EQ(FormatNumber(-1234567.891, "##########0.00"), "-1234567.89");
    EXPECT_EQ(FormatNumber(0.25, "#.00"), ".25");
    EXPECT_EQ(FormatNumber(-0.0001, "0.00"), "0.00");
    EXPECT_EQ(Trim("  a b  "), "a b");
    EXPECT_EQ(LCase("Corrected"), "corrected");
}

// The re-read every data-set command starts with.
TEST(Reread, OnlyWhenChangedAndReportsFailuresLikeOpenRefresh) {
    State st;
    test::TestUi ui(st);
    st.xlsWatch = std::make_unique<SheetWatcher>();
    int reads = 0;
    int16_t code = 0;
    std::string message;
    st.readOverride = [&](State& s) {
        ++reads;
        s.ErrCode = code;
        s.ErrMsg = message;
    };

    EXPECT_EQ(RereadIfChanged(st, ReadRequest{}), RereadResult::Unchanged);
    EXPECT_EQ(reads, 0);

    st.xlsWatch->Changed = true;
    EXPECT_EQ(RereadIfChanged(st, ReadRequest{}), RereadResult::Reread);
    EXPECT_EQ(reads, 1);
    EXPECT_TRUE(ui.messages.empty());

    code = 4;
    message = "Incorrect keyword (row=3, col=1)";
    EXPECT_EQ(RereadIfChanged(st, ReadRequest{}), RereadResult::Failed);
    EXPECT_EQ(st.ErrCode, 4);
    EXPECT_EQ(st.ErrMsg, "Source data: Incorrect keyword (row=3, col=1)");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Source data: Incorrect keyword (row=3, col=1)  ");
    EXPECT_EQ(ui.messages[0].icon, Icon::Critical);

    // Nothing that can read the sheet: the stale state is refused, not used.
    st.readOverride = nullptr;
    st.ErrCode = 0;
    EXPECT_EQ(RereadIfChanged(st, ReadRequest{}), RereadResult::Failed);
    EXPECT_EQ(st.ErrCode, -1);
}

} // namespace
} // namespace lumora
