#include "linalg/Chi2Quantile95.h"

#include "base/RuntimeError.h"

namespace lumora {

float Chi2Quantile95(int16_t df) {
    // Upper 5 % points of chi-square, as tabulated e.g. in Abramowitz and Stegun (1964),
    // table 26.8, rounded to four significant digits.
    static constexpr float kTable[] = {3.841f, 5.991f, 7.815f, 9.488f,
                                       11.07f, 12.59f, 14.07f, 15.51f};
    if (df < 1 || df > 8) throw RuntimeError(kSubscriptOutOfRange);
    return kTable[df - 1];
}

} // namespace lumora
