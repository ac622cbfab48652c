#include "fit/ProjectedJacobian.h"

#include "base/RuntimeError.h"
#include "fit/GoalResiduals.h"
#include "linalg/Cholesky.h"

#include <cmath>

namespace lumora {

namespace {

bool Valid(double a) {
    return a < kMissingLimit;
}

} // namespace

bool ProjectedJacobian::Applies(const State& st) {
    return st.FitMode == 0 && !st.residualsOverride;
}

void ProjectedJacobian::At(const State& st) {
    nSp_ = st.nSp, nSol_ = st.nSol, nWl_ = st.nWl;
    const size_t ns = static_cast<size_t>(nSp_);
    (void)st.Conc(nSp_, nSol_), (void)st.Eps(nSp_, nWl_), (void)st.AbsM(nSol_, nWl_);
    scale_ = ResidualScales(st);
    conc_.assign(ns * nSol_, 0.0);
    for (int k = 0; k < nSp_; ++k)
        for (int j = 0; j < nSol_; ++j)
            conc_[k * nSol_ + j] = st.Conc.At(k + 1, 0) * st.Conc.At(k + 1, j + 1);
    weight_.assign(static_cast<size_t>(nSol_), 0.0);
    for (int j = 0; j < nSol_; ++j) weight_[j] = st.SolWeight(j + 1);
    eps_.assign(ns * nWl_, 0.0);
    valid_.assign(static_cast<size_t>(nSol_) * nWl_, 0);
    resid_.assign(static_cast<size_t>(nSol_) * nWl_, 0.0);
    free_.assign(ns * nWl_, 0);
    freeCount_.assign(static_cast<size_t>(nWl_), 0);
    solved_.assign(static_cast<size_t>(nWl_), 0);
    chol_.assign(ns * ns * nWl_, 0.0);
    for (int w = 0; w < nWl_; ++w) {
        int* f = &free_[w * ns];
        int nf = 0;
        for (int k = 0; k < nSp_; ++k) {
            eps_[w * ns + k] = st.Eps.At(k + 1, w + 1);
            if (eps_[w * ns + k] != 0.0) f[nf++] = k;
        }
        freeCount_[w] = nf;
        for (int j = 0; j < nSol_; ++j) {
            const double a = st.AbsM.At(j + 1, w + 1);
            valid_[j * nWl_ + w] = Valid(a);
            if (Valid(a)) resid_[j * nWl_ + w] = a - CalculatedAbsorbance(st, j + 1, w + 1);
        }
        // The normal matrix of the free species as the goal function damps it.
        double* m = &chol_[w * ns * ns];
        for (int p = 0; p < nf; ++p)
            for (int q = 0; q <= p; ++q) {
                double s = 0.0;
                for (int j = 0; j < nSol_; ++j)
                    if (valid_[j * nWl_ + w])
                        s += weight_[j] * conc_[f[p] * nSol_ + j] * conc_[f[q] * nSol_ + j];
                m[p * nf + q] = p == q ? (1.0 + st.Damping) * s : s;
            }
        // A matrix the goal function could solve only with more damping: the
        // absorptivities are taken as fixed there.
        solved_[w] = Cholesky(m, nf);
    }
}

void ProjectedJacobian::SolveAt(int w, std::vector<double>& rhs) const {
    const int nf = freeCount_[w];
    CholeskySolve(&chol_[static_cast<size_t>(w) * nSp_ * nSp_], nf, rhs.data());
}

void ProjectedJacobian::Column(const State& st, double h, std::vector<double>& column) {
    const size_t ns = static_cast<size_t>(nSp_);
    (void)st.Conc(nSp_, nSol_);
    dConc_.assign(ns * nSol_, 0.0);
    for (int k = 0; k < nSp_; ++k)
        for (int j = 0; j < nSol_; ++j)
            dConc_[k * nSol_ + j] =
                (st.Conc.At(k + 1, 0) * st.Conc.At(k + 1, j + 1) - conc_[k * nSol_ + j]) / h;
    std::vector<double> dCalc(static_cast<size_t>(nSol_) * nWl_, 0.0);
    std::vector<double> q(static_cast<size_t>(nSol_)), rhs(ns);
    for (int w = 0; w < nWl_; ++w) {
        const int nf = freeCount_[w];
        const int* f = &free_[w * ns];
        const double* e = &eps_[w * ns];
        // The calculated absorbances move with the concentrations at fixed absorptivities,
        // and with the absorptivities the least squares refits to them.
        for (int j = 0; j < nSol_; ++j) {
            q[j] = 0.0;
            for (int p = 0; p < nf; ++p) q[j] += dConc_[f[p] * nSol_ + j] * e[f[p]];
        }
        for (int p = 0; p < nf; ++p) {
            double s = 0.0;
            for (int j = 0; j < nSol_; ++j)
                if (valid_[j * nWl_ + w])
                    s += weight_[j] * (dConc_[f[p] * nSol_ + j] * resid_[j * nWl_ + w] -
                                       conc_[f[p] * nSol_ + j] * q[j]);
            rhs[p] = s;
        }
        if (solved_[w])
            SolveAt(w, rhs);
        else
            rhs.assign(ns, 0.0);
        for (int j = 0; j < nSol_; ++j) {
            double d = q[j];
            for (int p = 0; p < nf; ++p) d += conc_[f[p] * nSol_ + j] * rhs[p];
            dCalc[j * nWl_ + w] = d;
        }
    }
    column.clear();
    for (int j = 0; j < nSol_; ++j)
        for (int w = 0; w < nWl_; ++w)
            if (valid_[j * nWl_ + w]) column.push_back(scale_[j + 1] * dCalc[j * nWl_ + w]);
}

} // namespace lumora
