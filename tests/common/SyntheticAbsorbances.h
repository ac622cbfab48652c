#pragma once
// Absorbance matrices of known rank for the factor-analysis tests: k species with
// Gaussian bands, random positive concentrations in every solution, and seeded
// normal noise of a known standard deviation.

#include "model/State.h"

#include <cmath>
#include <random>

namespace lumora::test {

struct Synthetic {
    int nSol = 12;
    int nWl = 80;
    int species = 2;  ///< rank of the noise-free matrix
    double noise = 0; ///< standard deviation of the added noise
    unsigned seed = 1;
};

/// Fills AbsM(0..nSol, 0..nWl) (wavelengths in row 0) and SolWeight = 1.
inline void MakeSpectra(State& st, const Synthetic& s) {
    st.nSol = static_cast<int16_t>(s.nSol);
    st.nWl = static_cast<int16_t>(s.nWl);
    st.AbsM.Redim(s.nSol, s.nWl);
    st.SolWeight.Redim(s.nSol);
    st.SolWeight.Fill(1.0f);
    std::mt19937 rng(s.seed);
    std::uniform_real_distribution<double> conc(0.05, 1.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    const double centre[] = {420.0, 520.0, 610.0, 700.0, 460.0};
    const double width[] = {40.0, 55.0, 35.0, 50.0, 25.0};
    for (int w = 1; w <= s.nWl; ++w) st.AbsM(0, w) = 380.0 + 5.0 * w;
    for (int j = 1; j <= s.nSol; ++j) {
        double c[5];
        for (int k = 0; k < s.species; ++k) c[k] = conc(rng);
        for (int w = 1; w <= s.nWl; ++w) {
            const double wl = st.AbsM(0, w);
            double a = 0.0;
            for (int k = 0; k < s.species; ++k)
                a += c[k] * std::exp(-std::pow((wl - centre[k]) / width[k], 2));
            st.AbsM(j, w) = a + s.noise * noise(rng);
        }
    }
}

} // namespace lumora::test
