#include "chart/scale/ChartPalette.h"

#include "base/RuntimeError.h"

namespace lumora {

ChartPalette DefaultPalette() {
    return {ColorValue(0, 0, 210),
            ColorValue(220, 0, 0),
            ColorValue(0, 180, 0),
            ColorValue(0, 185, 185),
            ColorValue(224, 0, 180),
            ColorValue(176, 0, 225),
            ColorValue(179, 179, 0),
            ColorValue(159, 159, 159),
            ColorValue(113, 113, 254),
            ColorValue(248, 181, 41),
            ColorValue(34, 254, 29),
            ColorValue(66, 254, 254),
            ColorValue(247, 140, 209),
            ColorValue(192, 169, 154),
            ColorValue(254, 254, 0),
            ColorValue(209, 209, 209),
            kSysButtonFace,
            kSysWindow,
            kSysWindowText};
}

std::u16string CustomColorsText(const ChartPalette& palette) {
    std::u16string text(32, u' ');
    for (int k = 0; k < 16; ++k) {
        const auto v = static_cast<uint32_t>(palette[k]);
        text[2 * k] = static_cast<char16_t>(v & 0xFFFFu);
        text[2 * k + 1] = static_cast<char16_t>(v >> 16);
    }
    return text;
}

void SetCustomColorsText(ChartPalette& palette, std::u16string_view text) {
    std::u16string units(text.substr(0, 32));
    units.resize(32, u' ');
    for (int k = 0; k < 16; ++k) {
        const uint32_t v =
            static_cast<uint32_t>(units[2 * k]) | (static_cast<uint32_t>(units[2 * k + 1]) << 16);
        palette[k] = static_cast<int32_t>(v);
    }
}

int32_t SeriesColor(const ChartPalette& palette, int k) {
    const int64_t v = static_cast<int64_t>(palette[(k - 1) % 16]) + (k - 1);
    if (v < INT32_MIN || v > INT32_MAX) throw RuntimeError(kOverflow);
    return static_cast<int32_t>(v);
}

} // namespace lumora
