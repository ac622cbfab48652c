#pragma once

#include "base/Bounded.h"

#include <cstdint>

namespace lumora {

/// Replaces A(1..n, 1..n), a symmetric matrix, by its inverse, stored in both
/// triangles. Each of the n cycles pivots on the leading element and shifts the
/// upper triangle up and to the left by one place; only elements A(r, c) with
/// r <= c are used meanwhile. An exactly zero pivot sets n to 0 and leaves A partly
/// transformed; negative or tiny pivots are accepted (the caller checks the
/// diagonal of the result).
void InvertSymmetric(int16_t& n, Mat<double>& A);

} // namespace lumora
