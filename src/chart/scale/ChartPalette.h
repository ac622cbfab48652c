#pragma once
// The chart's colours: 16 series colours and three reference colours (frame,
// background, text) as colour values R + 256 G + 65536 B, or system-colour codes
// (negative as signed 32-bit values) until they are resolved on screen.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumora {

inline constexpr int kPaletteSize = 19;
using ChartPalette = std::array<int32_t, kPaletteSize>;

/// System-colour codes: button face, window background, window text.
inline constexpr int32_t kSysButtonFace = static_cast<int32_t>(0x8000000Fu);
inline constexpr int32_t kSysWindow = static_cast<int32_t>(0x80000005u);
inline constexpr int32_t kSysWindowText = static_cast<int32_t>(0x80000008u);

/// Palette entries the mouse handler takes for "not a curve".
inline constexpr int kRefFrame = 16;      // button face
inline constexpr int kRefBackground = 17; // window background
inline constexpr int kRefText = 18;       // window text

constexpr int32_t ColorValue(int r, int g, int b) {
    return r + 256 * g + 65536 * b;
}

/// The palette of a new chart.
ChartPalette DefaultPalette();

/// Entries 0..15 as 32 UTF-16 code units: entry k is unit 2k + 65536 x unit 2k+1.
std::u16string CustomColorsText(const ChartPalette& palette);
/// Copies 32 code units over entries 0..15 (shorter text padded with blanks, longer cut).
void SetCustomColorsText(ChartPalette& palette, std::u16string_view text);

/// Colour of series k (1-based): entry (k-1) mod 16 plus k-1, so series sharing an
/// entry still differ. Raises "Overflow" when the sum leaves 32 bits.
int32_t SeriesColor(const ChartPalette& palette, int k);

} // namespace lumora
