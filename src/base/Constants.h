#pragma once
// Numbers that several layers share.

#include <cstdint>

namespace lumora {

/// ErrCode of the interrupt request (Esc).
inline constexpr int16_t kInterrupt = -16384;
/// Absorbance stored for a missing value; anything at or above kMissingLimit counts as missing.
inline constexpr double kMissing = 1e35;
inline constexpr double kMissingLimit = 1e33;
/// Moles of water in one kilogram (1000 / 18.01528 g/mol).
inline constexpr double kWaterMolality = 55.50843;

} // namespace lumora
