#pragma once
// A small data set in a State for the goal-function tests: species k of the
// system is element k of the bulk (amount = element amount), water is species 1,
// so the concentrations are known exactly.

#include "FakeSolver.h"
#include "TestUi.h"
#include "model/State.h"

#include <cmath>
#include <random>
#include <vector>

namespace lumora::test {

struct GoalData {
    int nSp = 2;
    int nSol = 6;
    int nWl = 5;
    std::vector<std::vector<double>> conc; ///< [k][j], mol/l, k and j from 1
    std::vector<float> dens;               ///< [j]
    std::vector<float> weight;             ///< [j]
};

/// Species k (1..nSp) sits at system index k + 1 after water (index 1); element k
/// of the bulk carries its amount. The corrected bulk is empty but for water, so
/// Conc = dens * amount.
inline void SetUpState(State& st, const GoalData& d) {
    st.nSp = st.nEl = static_cast<int16_t>(d.nSp);
    st.nSol = static_cast<int16_t>(d.nSol), st.nWl = static_cast<int16_t>(d.nWl);
    st.AqFirst = 1, st.TC = 25.0f, st.PBar = 1.0f, st.Damping = 1e-10, st.GaussLimit = 0.95;
    st.SpIdx.Redim(d.nSp), st.G0.Redim(d.nSp);
    for (int k = 1; k <= d.nSp; ++k) {
        st.SpIdx(k) = static_cast<int16_t>(k + 1);
        st.G0(k) = -100.0 * k;
    }
    st.Bulk.Redim(d.nSp, d.nSol), st.BulkCorr.Redim(d.nSp, d.nSol);
    st.SolDens.Redim(d.nSol), st.SolWeight.Redim(d.nSol);
    for (int j = 1; j <= d.nSol; ++j) {
        const float dens = d.dens.empty() ? 1.0f : d.dens[j];
        st.SolDens(j) = dens, st.SolWeight(j) = d.weight.empty() ? 1.0f : d.weight[j];
        st.Bulk(0, j) = st.BulkCorr(0, j) = kWaterMolality;
        for (int k = 1; k <= d.nSp; ++k) st.Bulk(k, j) = d.conc[k][j] / dens;
    }
    st.WArr1.Redim(0), st.WAmt.Redim(d.nSp + 1), st.WArr2.Redim(d.nSp + 1);
    st.AbsM.Redim(d.nSol, d.nWl);
    for (int w = 1; w <= d.nWl; ++w) st.AbsM(0, w) = 300.0 + 10.0 * w;
    st.MeanWl = 300.0 + 5.0 * (d.nWl + 1), st.WlMin = 310.0, st.WlMax = 300.0 + 10.0 * d.nWl;
    st.solver = std::make_unique<FakeSolver>(
        [](const std::map<int16_t, float>&, std::span<const double> bulk, std::span<double> amt) {
            amt[1] = bulk[0];
            for (size_t e = 1; e < bulk.size(); ++e) amt[e + 1] = bulk[e];
        });
}

inline FakeSolver& Fake(State& st) {
    return static_cast<FakeSolver&>(*st.solver);
}

/// Random positive concentrations, seeded.
inline GoalData RandomData(int nSp, int nSol, int nWl, unsigned seed, bool weights) {
    GoalData d{nSp, nSol, nWl, {}, {}, {}};
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.05, 1.0);
    d.conc.assign(nSp + 1, std::vector<double>(nSol + 1, 0.0));
    for (int k = 1; k <= nSp; ++k)
        for (int j = 1; j <= nSol; ++j) d.conc[k][j] = 1e-3 * u(rng);
    d.dens.assign(nSol + 1, 1.0f);
    d.weight.assign(nSol + 1, 1.0f);
    for (int j = 1; j <= nSol; ++j) {
        d.dens[j] = static_cast<float>(0.9 + 0.2 * u(rng));
        if (weights) d.weight[j] = static_cast<float>(0.25 + 2.0 * u(rng));
    }
    return d;
}

inline bool AllFinite(const State& st) {
    for (int k = 0; k <= st.Eps.UBound1(); ++k)
        for (int w = 0; w <= st.Eps.UBound2(); ++w)
            if (!std::isfinite(st.Eps(k, w))) return false;
    for (int j = 0; j <= st.AbsC.UBound1(); ++j)
        for (int w = 0; w <= st.AbsC.UBound2(); ++w)
            if (!std::isfinite(st.AbsC(j, w))) return false;
    return true;
}

} // namespace lumora::test
