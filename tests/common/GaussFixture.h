#pragma once
// A spectrum on a real in-memory sheet for the band builder, the refinement and the
// fitting-mode window: reference curves that are exact sums of known Gaussian bands,
// computed here from the band formula itself, independently of the program's code.

#include "GaussTableRows.h"
#include "TestUi.h"
#include "model/State.h"
#include "xlsx/GridSheet.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace lumora::test {

/// One generating band on the scaled abscissa.
struct TrueBand {
    int species;
    double c, h, height;
};

/// exp(ln H - 4 ln 2 ((c - x) / h)^2), written out.
inline double BandValue(const TrueBand& b, double x) {
    const double u = (x - b.c) / b.h;
    return b.height * std::exp(-4.0 * std::log(2.0) * u * u);
}

class GaussSpectrum {
public:
    /// nSp species over nWl wavelengths from 300 nm in 5 nm steps.
    GaussSpectrum(int nSp, int nWl, bool wavenumber) {
        st.xlSheet = sheet, st.GaussArg = wavenumber;
        st.nSp = static_cast<int16_t>(nSp), st.nWl = static_cast<int16_t>(nWl);
        st.AbsM.Redim(1, nWl), st.Eps.Redim(nSp, nWl), st.RefEps.Redim(nSp, nWl);
        for (int w = 1; w <= nWl; ++w) st.AbsM(0, w) = 300.0 + 5.0 * (w - 1);
        st.WlMin = 300.0, st.WlMax = 300.0 + 5.0 * (nWl - 1), st.MeanWl = (st.WlMin + st.WlMax) / 2;
        st.WlStart = static_cast<float>(st.WlMin), st.WlStop = static_cast<float>(st.WlMax);
        st.SpName.Redim(nSp);
        for (int k = 1; k <= nSp; ++k) st.SpName(k) = "Species" + std::to_string(k);
    }

    /// Scaled abscissa of wavelength row w, by hand.
    double X(int w) const {
        const double lambda = st.AbsM(0, w);
        return st.GaussArg ? st.MeanWl / lambda : lambda / st.MeanWl;
    }
    /// RefEps = the sums of the bands of each species.
    void SetReference(const std::vector<TrueBand>& bands) {
        st.RefEps.Redim(st.nSp, st.nWl);
        for (const TrueBand& b : bands)
            for (int w = 1; w <= st.nWl; ++w) st.RefEps(b.species, w) += BandValue(b, X(w));
    }

    /// GaussTab from bands (species blocks in order).
    void SetTable(const std::vector<TrueBand>& bands) {
        std::vector<BandRow> rows;
        for (const TrueBand& b : bands)
            rows.push_back({double(b.species), b.c, b.h, std::log(b.height)});
        FillGaussTab(st, rows);
    }

    /// Number of the sheet cell, 0 for an empty one.
    double Num(int row, int col) const {
        const CellValue v = sheet->Value(row, col);
        return std::holds_alternative<double>(v) ? std::get<double>(v) : 0.0;
    }

    State st;
    TestUi ui{st};
    /// A sheet of no workbook: nothing here is saved.
    GridSheet grid{nullptr, "Data"};
    GridSheet* sheet = &grid;
};

} // namespace lumora::test
