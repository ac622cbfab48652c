#pragma once
// One relative-tolerance comparison for all numeric tests, and the run-time error of a call.

#include "base/RuntimeError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace lumora::test {

/// |a - b| <= rel * max(|a|, |b|, floor).
inline ::testing::AssertionResult FuzzyEqual(double a, double b, double rel, double floor = 0.0) {
    const double scale = std::max({std::fabs(a), std::fabs(b), floor});
    if (std::fabs(a - b) <= rel * scale) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << a << " vs " << b << " (rel. diff " << std::fabs(a - b) / (scale > 0 ? scale : 1)
           << ", allowed " << rel << ")";
}

/// The description of the RuntimeError that f raises, "no error" when it raises none.
inline std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.Description();
    }
    return "no error";
}

} // namespace lumora::test

#define EXPECT_FUZZY(a, b, rel) EXPECT_TRUE(::lumora::test::FuzzyEqual((a), (b), (rel)))
