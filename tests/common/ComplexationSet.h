#pragma once
// A metal M and its complexes ML and ML2 in ligand solutions, speciated by the law of mass
// action written out here (ligand in excess, activities ideal): species k carries
// exp(-G_k / RT) L^(k-1) of the metal. Known Gibbs energies and band spectra give the
// absorbances, with seeded noise and one missing value; M stays fixed, ML and ML2 are
// refined by the real goal function.

#include "GoalFixture.h"

#include <cmath>
#include <random>

namespace lumora::test {

inline constexpr double kRT = 8.314462618e-3 * 298.15; // kJ/mol
inline const double kTrueG[] = {0.0, 0.0, -6.0, -8.0}; // M, ML, ML2 (kJ/mol)
inline const double kStartG[] = {0.0, 0.0, -4.5, -9.5};

/// The share of the metal in each species (1..3) at ligand molality l.
inline void Shares(const double* g, double l, double* share) {
    double sum = 0.0;
    for (int k = 1; k <= 3; ++k) sum += share[k] = std::exp(-g[k] / kRT) * std::pow(l, k - 1);
    for (int k = 1; k <= 3; ++k) share[k] /= sum;
}

/// Fills st (nSol solutions from 0.01 to 3 mol/kg ligand, nWl wavelengths) and starts the
/// free species at kStartG.
inline void SetUpComplexation(State& st, int nSol, int nWl, double noise, unsigned seed) {
    GoalData d;
    d.nSp = 3, d.nSol = nSol, d.nWl = nWl;
    d.conc.assign(4, std::vector<double>(nSol + 1, 0.0));
    for (int j = 1; j <= nSol; ++j)
        d.conc[1][j] = 0.01, d.conc[2][j] = 0.01 * std::pow(300.0, (j - 1.0) / (nSol - 1));
    SetUpState(st, d);
    st.solver = std::make_unique<FakeSolver>(
        [](const std::map<int16_t, float>& g, std::span<const double> bulk, std::span<double> amt) {
            const double gk[] = {0.0, g.at(2), g.at(3), g.at(4)};
            double share[4];
            Shares(gk, bulk[2], share);
            amt[1] = bulk[0];
            for (int k = 1; k <= 3; ++k) amt[k + 1] = bulk[1] * share[k];
        });
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, noise);
    for (int j = 1; j <= nSol; ++j) {
        double share[4];
        Shares(kTrueG, d.conc[2][j], share);
        for (int wl = 1; wl <= nWl; ++wl) {
            double a = 0.0;
            for (int k = 1; k <= 3; ++k) {
                const double x = (st.AbsM(0, wl) - 295.0 - 25.0 * k) / 30.0;
                a += 0.01 * share[k] * (5.0 + 100.0 * std::exp(-x * x));
            }
            st.AbsM(j, wl) = a + gauss(rng);
        }
    }
    st.AbsM(2, 3) = 1e35;
    for (auto* v : {&st.G0Init, &st.G0Res, &st.GScale, &st.GErr}) v->Redim(3);
    st.SpFree.Redim(3), st.SearchDir.Redim(3), st.G0Save.Redim(3);
    for (int k = 1; k <= 3; ++k) {
        st.SpFree(k) = k == 1 ? kFalse : kTrue;
        st.G0Res(k) = st.G0Init(k) = static_cast<float>(kStartG[k]);
        st.GScale(k) = 1.0f;
    }
    st.nFree = 2, st.RelTol = 1e-8;
}

} // namespace lumora::test
