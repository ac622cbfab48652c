#pragma once
// A small data set that the real reader and engine read: Co(II) chloride complexes in
// NaCl-HCl solutions at 25 C, with CoCl+ and CoCl4-2 refined and spectra that grow with
// chloride so that a fit has something to explain.

#include "sheet/CellValue.h"
#include "xlsx/GridSheet.h"

#include <cmath>
#include <string>

namespace lumora::test {

inline constexpr int kSolMax = 6;
inline const double kNaCl[kSolMax] = {0.0, 1.0, 2.0, 3.0, 4.0, 5.0};
inline constexpr double kCoCl2 = 0.05, kHCl = 0.01;
inline const double kWl[] = {480.0, 500.0, 550.0, 600.0, 650.0, 700.0, 720.0};

struct CobaltSet {
    int nSol = kSolMax; ///< 1..kSolMax solutions, named "S1".."Sn"
    int nSp = 2;        ///< CoCl+, then CoCl4-2
    bool gap = false;   ///< leave solution 2 at 600 nm empty (a missing value)
    std::string title = "Co(II) chloride";
};

/// Writes the data set over whatever the sheet held. With two species the composition
/// rows are 14..16 (HCl marked "corrected") and the spectrum rows 19..25.
inline void WriteCobaltDataSet(GridSheet& sh, const CobaltSet& set = {}) {
    sh.ClearContents(1, 1, 40, 20);
    auto text = [&](int r, int c, const std::string& t) { sh.SetValue(r, c, CellValue{t}); };
    auto num = [&](int r, int c, double x) { sh.SetValue(r, c, CellValue{x}); };
    text(1, 1, set.title);
    const char* keywords[] = {"Database:", "System:",   "Options:", "T, C:",
                              "P, bar:",   "wl_start:", "wl_stop:", "Species:"};
    for (int r = 2; r <= 9; ++r) text(r, 1, keywords[r - 2]);
    text(2, 2, "thermo.toml");
    text(3, 2, "systems/co-na-cl.toml");
    num(5, 2, 25.0);
    num(6, 2, 1.0);
    num(7, 2, 500.0);
    num(8, 2, 700.0);
    num(9, 2, set.nSp);
    text(9, 3, "Initial");
    text(9, 4, "Result");
    text(9, 5, " \u00B1");
    const char* species[] = {"CoCl+", "CoCl4-2"};
    int r = 10;
    for (int k = 0; k < set.nSp; ++k) text(r++, 2, species[k]);
    text(r++, 1, "Mean err.:");
    text(r++, 2, "Composition, molality");
    const char* components[] = {"CoCl2", "NaCl", "HCl"};
    for (int i = 0; i < 3; ++i, ++r) {
        text(r, 1, components[i]);
        for (int j = 0; j < set.nSol; ++j)
            num(r, j + 2, i == 0 ? kCoCl2 : i == 1 ? kNaCl[j] : kHCl);
    }
    text(r - 1, set.nSol + 2, "corrected");
    text(r++, 2, "Absorption spectra");
    text(r, 1, "Wave");
    for (int j = 1; j <= set.nSol; ++j) text(r, j + 1, "S" + std::to_string(j));
    ++r;
    for (double wl : kWl) {
        num(r, 1, wl);
        for (int j = 0; j < set.nSol; ++j) {
            const double peak = std::exp(-std::pow((wl - 690.0) / 40.0, 2));
            if (!(set.gap && j == 1 && wl == 600.0))
                num(r, j + 2, 0.02 + 0.05 * kNaCl[j] * peak + 0.001 * j);
        }
        ++r;
    }
}

} // namespace lumora::test
