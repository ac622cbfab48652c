#pragma once
// One relative-tolerance comparison for all numeric tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace lumora::test {

/// |a - b| <= rel * max(|a|, |b|, floor).
inline ::testing::AssertionResult FuzzyEqual(double a, double b, double rel, double floor = 0.0) {
    const double scale = std::max({std::fabs(a), std::fabs(b), floor});
    if (std::fabs(a - b) <= rel * scale) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << a << " vs " << b << " (rel. diff " << std::fabs(a - b) / (scale > 0 ? scale : 1)
           << ", allowed " << rel << ")";
}

} // namespace lumora::test

#define EXPECT_FUZZY(a, b, rel) EXPECT_TRUE(::lumora::test::FuzzyEqual((a), (b), (rel)))
#define ASSERT_FUZZY(a, b, rel) ASSERT_TRUE(::lumora::test::FuzzyEqual((a), (b), (rel)))
