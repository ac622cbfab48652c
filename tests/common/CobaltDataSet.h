#pragma once
// A small data set that the real reader and engine read: Co(II) chloride complexes in
// NaCl-HCl solutions at 25 C, with CoCl+ and CoCl4-2 refined and spectra that grow with
// chloride so that a fit has something to explain.

#include "sheet/CellValue.h"
#include "xlsx/GridSheet.h"

#include <cmath>
#include <string>
#include <utility>

namespace lumora::test {

inline constexpr int kSolMax = 6;
inline const double kNaCl[kSolMax] = {0.0, 1.0, 2.0, 3.0, 4.0, 5.0};
inline constexpr double kCoCl2 = 0.05, kHCl = 0.01;
inline const double kWl[] = {480.0, 500.0, 550.0, 600.0, 650.0, 700.0, 720.0};

/// Writes the data set of n solutions ("S1".."Sn", n <= kSolMax) over whatever the sheet
/// held, leaving solution 2 at 600 nm empty (a missing value) when `gap`. The
/// composition rows are 14..16 (HCl marked "corrected"), the spectrum rows 19..25.
inline void WriteCobaltDataSet(GridSheet& sh, int n, bool gap) {
    sh.ClearContents(1, 1, 40, 20);
    auto text = [&](int r, int c, const std::string& t) { sh.SetValue(r, c, CellValue{t}); };
    auto num = [&](int r, int c, double x) { sh.SetValue(r, c, CellValue{x}); };
    const char* keywords[] = {"Co(II) chloride", "Database:", "System:",  "Options:", "T, C:",
                              "P, bar:",         "wl_start:", "wl_stop:", "Species:"};
    for (int r = 1; r <= 9; ++r) text(r, 1, keywords[r - 1]);
    text(2, 2, "thermo.toml");
    text(3, 2, "systems/co-na-cl.toml");
    for (const auto& [r, x] : {std::pair{5, 25.0}, {6, 1.0}, {7, 500.0}, {8, 700.0}, {9, 2.0}})
        num(r, 2, x);
    text(9, 3, "Initial");
    text(9, 4, "Result");
    text(9, 5, " \u00B1");
    text(10, 2, "CoCl+");
    text(11, 2, "CoCl4-2");
    text(12, 1, "Mean err.:");
    text(13, 2, "Composition, molality");
    const char* components[] = {"CoCl2", "NaCl", "HCl"};
    for (int i = 0; i < 3; ++i) {
        text(14 + i, 1, components[i]);
        for (int j = 0; j < n; ++j) num(14 + i, j + 2, i == 0 ? kCoCl2 : i == 1 ? kNaCl[j] : kHCl);
    }
    text(16, n + 2, "corrected");
    text(17, 2, "Absorption spectra");
    text(18, 1, "Wave");
    for (int j = 1; j <= n; ++j) text(18, j + 1, "S" + std::to_string(j));
    int r = 19;
    for (double wl : kWl) {
        num(r, 1, wl);
        const double peak = std::exp(-std::pow((wl - 690.0) / 40.0, 2));
        for (int j = 0; j < n; ++j)
            if (!(gap && j == 1 && wl == 600.0))
                num(r, j + 2, 0.02 + 0.05 * kNaCl[j] * peak + 0.001 * j);
        ++r;
    }
}

} // namespace lumora::test
