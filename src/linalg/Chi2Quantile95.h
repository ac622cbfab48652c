#pragma once

#include <cstdint>

namespace lumora {

/// The 0.95 quantile of the chi-square distribution with df = 1..8 degrees of freedom
/// (at most 8 refined species). Raises "Subscript out of range" for any other df.
float Chi2Quantile95(int16_t df);

} // namespace lumora
