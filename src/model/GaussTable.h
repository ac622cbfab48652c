#pragma once
// The band table on the data-set sheet, to the right of the species table, so that
// the bands travel with the workbook:
//
//   (9, 7)                 "wL" bands in wavelength, "wN" bands in wavenumber
//   (9, 8..10), ...        "center", "width", "max", repeated per band column
//   (9 + i, 7)             number of bands of species i, 1..8
//   (9 + i, 5 + 3b ..)     band b of species i: centre wavelength, full width at
//                          half maximum (sheet units), height
//
// Cell access failures are not handled here: they reach the calling command.

#include <cstdint>

namespace lumora {

struct State;

/// One band as the sheet shows it.
struct SheetBand {
    /// Centre wavelength (sheet units)
    double center = 0.0;
    /// Full width at half maximum (sheet units)
    double width = 0.0;
    /// Height: the extinction coefficient at the centre
    double height = 0.0;
};

/// One band as the band table holds it.
struct TableBand {
    /// Centre on the scaled abscissa
    double c = 0.0;
    /// Full width at half maximum on the scaled abscissa
    double h = 0.0;
    /// Natural logarithm of the height
    double L = 0.0;
};

/// Sheet band to table band with M = MeanWl; wavenumber selects "wN" bands.
/// Raises a run-time error for values the table cannot hold.
TableBand SheetToTable(const SheetBand& b, double meanWl, bool wavenumber);
/// Table band back to the sheet.
SheetBand TableToSheet(const TableBand& b, double meanWl, bool wavenumber);

/// Reads the sheet table into GaussTab. strict != 0 shows why a table is refused.
/// On success FitMode = 1 and Eps holds the bands' curves (FitMode back to 0 when
/// they cannot be evaluated); on failure nG = 0 and FitMode is unchanged.
void LoadGaussians(State& st, int16_t strict);

/// Writes GaussTab to the sheet: header != 0 rewrites the whole area (clearing
/// (9, 7)..(9 + nSp, 37) first), header = 0 the band values only.
void WriteGaussianTable(State& st, int16_t header);

/// Switches the bands between wavelength (0) and wavenumber (non-zero) kind, keeping
/// the sheet's centre, width and height; only in Gaussian mode with bands.
void SetAbscissa(State& st, int16_t wavenumber);

} // namespace lumora
