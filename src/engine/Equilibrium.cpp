#include "engine/Equilibrium.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace lumora {

namespace {

constexpr double kLn10 = 2.302585092994046;
constexpr double kGasConstant = 8.31446261815324; // J/(mol K)
/// Largest change of a log molality in one Newton step: keeps a cold start from jumping
/// into overflow.
constexpr double kMaxLogStep = 4.0;
/// Newton steps a warm start (or a first cold attempt) gets before the next strategy.
constexpr int kWarmIterations = 30;
/// Highest log molality tried before a point counts as diverged.
constexpr double kMaxLogMolality = 700.0;
/// Relative size below which a reduced vector counts as dependent.
constexpr double kRankTol = 1e-9;
/// Relative tolerance on the consistency of dependent balances (neutrality of the bulk).
constexpr double kDependentTol = 1e-11;
/// Relative residual above which a "converged" result is refused (or 100 x the tolerance).
constexpr double kVerifyTol = 1e-9;

/// Vectors reduced to echelon form one at a time; Add tells whether a vector is
/// independent of those added before.
class Echelon {
public:
    explicit Echelon(int dim) : dim_(dim) {}
    bool Add(std::vector<double> v) {
        double norm = 0;
        for (double e : v) norm = std::max(norm, std::fabs(e));
        if (norm == 0) return false;
        for (size_t i = 0; i < rows_.size(); ++i) {
            const double f = v[pivots_[i]] / rows_[i][pivots_[i]];
            if (f != 0)
                for (int k = 0; k < dim_; ++k) v[k] -= f * rows_[i][k];
        }
        int p = 0;
        for (int k = 1; k < dim_; ++k)
            if (std::fabs(v[k]) > std::fabs(v[p])) p = k;
        if (std::fabs(v[p]) <= kRankTol * norm) return false;
        rows_.push_back(std::move(v));
        pivots_.push_back(p);
        return true;
    }

private:
    int dim_;
    std::vector<std::vector<double>> rows_;
    std::vector<int> pivots_;
};

/// Solves a x = b in place (a row-major n x n, destroyed; b becomes x) by Gaussian
/// elimination with partial pivoting. False when a pivot vanishes.
bool SolveInPlace(double* a, double* b, int n) {
    for (int k = 0; k < n; ++k) {
        int p = k;
        for (int i = k + 1; i < n; ++i)
            if (std::fabs(a[i * n + k]) > std::fabs(a[p * n + k])) p = i;
        const double piv = a[p * n + k];
        if (!(std::fabs(piv) > 1e-300)) return false;
        if (p != k) {
            for (int j = k; j < n; ++j) std::swap(a[k * n + j], a[p * n + j]);
            std::swap(b[k], b[p]);
        }
        for (int i = k + 1; i < n; ++i) {
            const double f = a[i * n + k] / piv;
            if (f == 0) continue;
            for (int j = k + 1; j < n; ++j) a[i * n + j] -= f * a[k * n + j];
            b[i] -= f * b[k];
        }
    }
    for (int k = n - 1; k >= 0; --k) {
        double s = b[k];
        for (int j = k + 1; j < n; ++j) s -= a[k * n + j] * b[j];
        b[k] = s / a[k * n + k];
        if (!std::isfinite(b[k])) return false;
    }
    return true;
}

double Snap(double v) {
    const double r = std::nearbyint(v);
    return std::fabs(v - r) < 1e-10 ? r : v;
}

std::string Number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", v);
    return buf;
}

} // namespace

/// The reduced problem for one set of active elements: its species, basis, stoichiometry
/// in the basis, the last result (warm start) and the work arrays of the Newton method.
struct Equilibrium::Config {
    uint64_t mask = 0;
    /// Empty when the set of elements can be solved; otherwise why not
    std::string problem;
    int16_t problemCode = kEqOk;

    /// Global index of each active species; sp[0] = 0 is water
    std::vector<int> sp;
    int S = 0;
    /// Basis size, water included
    int r = 0;
    /// Local index of each basis species; basis[0] = 0
    std::vector<int> basis;
    /// nu[j * r + k]: moles of basis species k in species j
    std::vector<double> nu;
    /// Constraint row of each basis component: element index m - 1, or -1 for the charge
    std::vector<int> rows;
    /// Inverse of the square constraint matrix of the basis (r x r)
    std::vector<double> binv;
    /// Dependent constraint rows and their weights on the selected rows (r per row)
    std::vector<int> depRow;
    std::vector<double> depY;
    std::vector<char> depCharge;
    /// Components whose species all hold it with a positive (or negative) coefficient
    std::vector<int> compSign;
    std::vector<double> compMaxNu;
    /// Charge, its square and the ion size of each active species
    std::vector<double> z, z2, a;
    bool hasIons = false;

    /// ln K of formation of each species from the basis, and the Gibbs version it is for
    std::vector<double> L;
    uint64_t gibbsVersion = 0;

    // Per solve.
    /// Number of Newton unknowns
    int n = 0;
    /// Activity coefficients apply (B-dot model and ions present)
    bool act = false;
    /// sqrt(I) is an unknown of the Newton method (else held fixed)
    bool useS = false;
    /// Water component total (mol)
    double Tw = 0;
    /// Component totals of the excess bulk (mol), their ratios to Tw, and the
    /// stoichiometry with water eliminated: cm[j * (r - 1) + k - 1] = nu_jk - tau_k nu_j0
    std::vector<double> q, tau, cm;
    // Newton state: x = (ln m of basis solutes, sqrt(I)).
    std::vector<double> x, xt, dx, R, Rt, sc, sct, J, A, start;
    std::vector<double> m, g, gp, hp;
    // Warm start.
    std::vector<double> warm, warmTau;
    bool haveWarm = false;
};

Equilibrium::Equilibrium() = default;
Equilibrium::~Equilibrium() = default;

bool Equilibrium::SetSpecies(std::vector<EquilibriumSpecies> species,
                             std::vector<std::string> elementNames, std::string& message) {
    configs_.clear();
    species_.clear();
    elementNames_.clear();
    G_.clear();
    const size_t nElem = elementNames.size();
    if (species.empty()) {
        message = "Vexil: the system has no aqueous species";
        return false;
    }
    if (nElem > 63) {
        message = "Vexil: more than 63 elements in the system";
        return false;
    }
    for (const auto& s : species)
        if (s.stoich.size() != nElem) {
            message = "Vexil: species composition does not match the element list";
            return false;
        }
    if (species[0].charge != 0) {
        message = "Vexil: the first aqueous species must be water";
        return false;
    }
    species_ = std::move(species);
    elementNames_ = std::move(elementNames);
    G_.assign(species_.size(), 0.0);
    ++gibbsVersion_;
    return true;
}

void Equilibrium::SetGibbs(int i, double G) {
    if (i < 0 || i >= SpeciesCount()) return;
    G_[i] = G;
    ++gibbsVersion_;
}

void Equilibrium::SetActivityParams(const ActivityParams& p) {
    if (p.T != params_.T) ++gibbsVersion_;
    params_ = p;
}

void Equilibrium::ForgetWarmStart() {
    for (auto& c : configs_) c->haveWarm = false;
}

double Equilibrium::LnGamma(int i, double I, ActivityModel model) const {
    if (i < 0 || i >= SpeciesCount() || model == ActivityModel::Ideal) return 0;
    const auto& s = species_[i];
    if (s.charge == 0 || !(I > 0)) return 0;
    const double sq = std::sqrt(I);
    return kLn10 * (-params_.A * s.charge * s.charge * sq / (1 + s.ionSize * params_.B * sq) +
                    params_.Bdot * I);
}

Equilibrium::Config* Equilibrium::FindConfig(uint64_t mask) {
    for (auto& c : configs_)
        if (c->mask == mask) return c.get();
    auto c = std::make_unique<Config>();
    c->mask = mask;
    BuildConfig(*c);
    configs_.push_back(std::move(c));
    return configs_.back().get();
}

void Equilibrium::BuildConfig(Config& c) const {
    const int nElem = ElementCount();
    auto active = [&](int e) { return (c.mask >> e & 1u) != 0; };
    for (int i = 0; i < SpeciesCount(); ++i) {
        bool ok = true;
        for (int e = 0; e < nElem && ok; ++e)
            if (species_[i].stoich[e] != 0 && !active(e)) ok = false;
        if (ok)
            c.sp.push_back(i);
        else if (i == 0) {
            c.problem = "Vexil: water holds an element without amount";
            c.problemCode = kEqInfeasible;
            return;
        }
    }
    if (c.sp.empty() || c.sp[0] != 0) {
        c.problem = "Vexil: the system has no water";
        c.problemCode = kEqNoSystem;
        return;
    }
    c.S = static_cast<int>(c.sp.size());
    const int S = c.S;
    // Constraint rows: the active elements, then the charge.
    std::vector<int> rowsAll;
    for (int e = 0; e < nElem; ++e)
        if (active(e)) rowsAll.push_back(e);
    rowsAll.push_back(-1);
    const int nRows = static_cast<int>(rowsAll.size());
    auto coef = [&](int row, int j) {
        const auto& s = species_[c.sp[j]];
        return row < 0 ? s.charge : s.stoich[row];
    };
    for (int row : rowsAll) {
        if (row < 0) continue;
        bool held = false;
        for (int j = 0; j < S && !held; ++j) held = coef(row, j) != 0;
        if (!held) {
            c.problem = "Vexil: no aqueous species holds element " + elementNames_[row];
            c.problemCode = kEqInfeasible;
            return;
        }
    }
    // Basis: water, then the simplest species (fewest atoms, then system order) that are
    // independent of those chosen.
    std::vector<int> order(static_cast<size_t>(S));
    std::iota(order.begin(), order.end(), 0);
    auto atoms = [&](int j) {
        double n = 0;
        for (int row : rowsAll)
            if (row >= 0) n += std::fabs(coef(row, j));
        return n;
    };
    std::stable_sort(order.begin() + 1, order.end(),
                     [&](int p, int q) { return atoms(p) < atoms(q); });
    Echelon cols(nRows);
    for (int j : order) {
        std::vector<double> v(static_cast<size_t>(nRows));
        for (int i = 0; i < nRows; ++i) v[i] = coef(rowsAll[i], j);
        if (cols.Add(std::move(v))) c.basis.push_back(j);
    }
    const int r = static_cast<int>(c.basis.size());
    c.r = r;
    // Independent rows of the basis columns (elements first, the charge last).
    Echelon rowSet(r);
    std::vector<int> selected;
    for (int i = 0; i < nRows; ++i) {
        std::vector<double> v(static_cast<size_t>(r));
        for (int k = 0; k < r; ++k) v[k] = coef(rowsAll[i], c.basis[k]);
        if (rowSet.Add(std::move(v))) selected.push_back(i);
    }
    // Inverse of the square matrix (selected rows x basis columns).
    std::vector<double> bsq(static_cast<size_t>(r * r));
    for (int i = 0; i < r; ++i)
        for (int k = 0; k < r; ++k) bsq[i * r + k] = coef(rowsAll[selected[i]], c.basis[k]);
    c.binv.assign(static_cast<size_t>(r * r), 0.0);
    for (int col = 0; col < r; ++col) {
        std::vector<double> work(bsq), e(static_cast<size_t>(r), 0.0);
        e[col] = 1;
        if (!SolveInPlace(work.data(), e.data(), r)) {
            c.problem = "Vexil: singular basis";
            c.problemCode = kEqNoConvergence;
            return;
        }
        for (int i = 0; i < r; ++i) c.binv[i * r + col] = e[i];
    }
    for (int i = 0; i < r; ++i) c.rows.push_back(rowsAll[selected[i]]);
    // Stoichiometry of every species in the basis.
    c.nu.assign(static_cast<size_t>(S * r), 0.0);
    for (int j = 0; j < S; ++j)
        for (int k = 0; k < r; ++k) {
            double s = 0;
            for (int i = 0; i < r; ++i) s += c.binv[k * r + i] * coef(c.rows[i], j);
            c.nu[j * r + k] = Snap(s);
        }
    // Dependent rows: row d = sum_i y_i (selected row i).
    for (int d = 0; d < nRows; ++d) {
        if (std::find(selected.begin(), selected.end(), d) != selected.end()) continue;
        c.depRow.push_back(rowsAll[d]);
        bool charge = rowsAll[d] < 0;
        for (int i = 0; i < r; ++i) {
            double y = 0;
            for (int l = 0; l < r; ++l) y += coef(rowsAll[d], c.basis[l]) * c.binv[l * r + i];
            y = Snap(y);
            c.depY.push_back(y);
            if (c.rows[i] < 0 && y != 0) charge = true;
        }
        c.depCharge.push_back(charge ? 1 : 0);
    }
    c.compSign.assign(static_cast<size_t>(r), 0);
    c.compMaxNu.assign(static_cast<size_t>(r), 0.0);
    for (int k = 1; k < r; ++k) {
        bool pos = true, neg = true;
        double mx = 0;
        for (int j = 1; j < S; ++j) {
            const double v = c.nu[j * r + k];
            if (v < 0) pos = false;
            if (v > 0) neg = false;
            mx = std::max(mx, std::fabs(v));
        }
        c.compSign[k] = pos ? 1 : (neg ? -1 : 0);
        c.compMaxNu[k] = mx;
    }
    for (int j = 0; j < S; ++j) {
        const auto& s = species_[c.sp[j]];
        c.z.push_back(s.charge);
        c.z2.push_back(s.charge * s.charge);
        c.a.push_back(s.ionSize);
        if (j > 0 && s.charge != 0) c.hasIons = true;
    }
    const size_t n = static_cast<size_t>(r);
    c.L.assign(static_cast<size_t>(S), 0.0);
    c.q.assign(n, 0.0);
    c.tau.assign(n, 0.0);
    c.cm.assign(static_cast<size_t>(S) * n, 0.0);
    for (auto* v : {&c.x, &c.xt, &c.dx, &c.R, &c.Rt, &c.sc, &c.sct, &c.warm, &c.warmTau, &c.start})
        v->assign(n, 0.0);
    for (auto* v : {&c.J, &c.A}) v->assign(n * n, 0.0);
    for (auto* v : {&c.m, &c.g, &c.gp, &c.hp}) v->assign(static_cast<size_t>(S), 0.0);
}

void Equilibrium::UpdateLogK(Config& c) const {
    const double RT = kGasConstant * params_.T;
    const int r = c.r;
    for (int j = 0; j < c.S; ++j) {
        double dG = G_[c.sp[j]];
        for (int k = 0; k < r; ++k)
            dG -= c.nu[j * r + k] * G_[c.sp[c.basis[static_cast<size_t>(k)]]];
        c.L[j] = -dG / RT;
    }
    for (int k = 0; k < r; ++k) c.L[c.basis[k]] = 0;
    c.gibbsVersion = gibbsVersion_;
}

// Residuals of the reduced balances at x = (ln m of the basis solutes, sqrt I):
//   R_k = sum_j (nu_jk - tau_k nu_j0) m_j - 55.50843 tau_k   (component k, water eliminated)
//   R_I = 1/2 sum_j z_j^2 m_j - I                             (ionic strength, B-dot only)
// with ln m_j = ln K_j + sum_k nu_jk (ln m_k + ln gamma_k) - ln gamma_j, and their Jacobian.
bool Equilibrium::Evaluate(Config& c, const double* x, double* R, double* scale) const {
    const int r = c.r, nb = r - 1, n = c.n, S = c.S;
    const bool act = c.act, useS = c.useS;
    const double s = act ? x[nb] : 0.0;
    std::fill(R, R + n, 0.0);
    std::fill(scale, scale + n, 0.0);
    if (act) {
        const double A = params_.A, B = params_.B, bd = params_.Bdot;
        for (int j = 1; j < S; ++j) {
            if (c.z2[j] == 0) {
                c.g[j] = c.gp[j] = 0;
                continue;
            }
            const double d = 1 + c.a[j] * B * s;
            c.g[j] = kLn10 * (-A * c.z2[j] * s / d + bd * s * s);
            c.gp[j] = kLn10 * (-A * c.z2[j] / (d * d) + 2 * bd * s);
        }
    }
    for (int j = 1; j < S; ++j) {
        const double* nuj = &c.nu[j * r];
        double lnm = c.L[j];
        double hp = 0;
        if (act) {
            lnm -= c.g[j];
            hp = -c.gp[j];
        }
        for (int k = 1; k < r; ++k) {
            const double nk = nuj[k];
            if (nk == 0) continue;
            const int b = c.basis[k];
            lnm += nk * x[k - 1];
            if (act) {
                lnm += nk * c.g[b];
                hp += nk * c.gp[b];
            }
        }
        if (!(lnm < kMaxLogMolality)) return false;
        const double mj = std::exp(lnm);
        c.m[j] = mj;
        const double* cj = &c.cm[j * nb];
        for (int k = 0; k < nb; ++k) {
            R[k] += cj[k] * mj;
            scale[k] += std::fabs(cj[k]) * mj;
        }
        if (useS) {
            const double w = 0.5 * c.z2[j] * mj;
            R[nb] += w;
            scale[nb] += w;
        }
        c.hp[j] = hp;
    }
    for (int k = 0; k < nb; ++k) {
        const double t = kWaterMolality * c.tau[k + 1];
        R[k] -= t;
        scale[k] = std::max(scale[k] + std::fabs(t), DBL_MIN);
    }
    if (useS) {
        R[nb] -= s * s;
        scale[nb] = std::max(scale[nb] + s * s, DBL_MIN);
    }
    return true;
}

/// Jacobian of the residuals at the point last evaluated (its molalities in c.m).
void Equilibrium::Jacobian(Config& c) const {
    const int r = c.r, nb = r - 1, n = c.n;
    double* J = c.J.data();
    std::fill(J, J + n * n, 0.0);
    double v[64];
    for (int j = 1; j < c.S; ++j) {
        const double mj = c.m[j];
        const double* nuj = &c.nu[j * r];
        const double* cj = &c.cm[j * nb];
        for (int l = 0; l < nb; ++l) v[l] = nuj[l + 1];
        if (c.useS) v[nb] = c.hp[j];
        for (int k = 0; k < nb; ++k) {
            const double w = cj[k] * mj;
            if (w == 0) continue;
            double* row = J + k * n;
            for (int l = 0; l < n; ++l) row[l] += w * v[l];
        }
        if (c.useS && c.z2[j] != 0) {
            const double w = 0.5 * c.z2[j] * mj;
            double* row = J + nb * n;
            for (int l = 0; l < n; ++l) row[l] += w * v[l];
        }
    }
    if (c.useS) J[nb * n + nb] -= 2 * c.x[nb];
}

void Equilibrium::InitialGuess(Config& c) const {
    const int r = c.r, nb = r - 1;
    double I = 0;
    for (int k = 1; k < r; ++k) {
        const double t = kWaterMolality * c.tau[k];
        c.x[k - 1] = std::log(t > 1e-200 ? t : 1e-7);
        I += 0.5 * c.z2[c.basis[k]] * std::max(t, 0.0);
    }
    const double s0 = std::sqrt(std::max(I, 1e-7));
    c.x[nb] = s0;
    // A few rounds of rescaling the components held only with positive coefficients,
    // so that complexation does not start out many orders of magnitude off. The ionic
    // strength follows within a factor of 100 of its stoichiometric estimate.
    std::copy(c.x.begin(), c.x.end(), c.xt.begin());
    for (int round = 0; round < 8; ++round) {
        if (!Evaluate(c, c.x.data(), c.R.data(), c.sc.data())) {
            std::copy(c.xt.begin(), c.xt.end(), c.x.begin());
            break;
        }
        std::copy(c.x.begin(), c.x.end(), c.xt.begin());
        bool changed = false;
        for (int k = 1; k < r; ++k) {
            if (c.compSign[k] != 1) continue;
            const double t = kWaterMolality * c.tau[k];
            double sum = 0;
            for (int j = 1; j < c.S; ++j) sum += c.nu[j * r + k] * c.m[j];
            if (!(t > 0) || !(sum > 0)) continue;
            const double f = std::log(t / sum) / std::max(c.compMaxNu[k], 1.0);
            if (std::fabs(f) > 0.1) changed = true;
            c.x[k - 1] += std::clamp(f, -50.0, 50.0);
        }
        if (c.act) {
            double ion = 0;
            for (int j = 1; j < c.S; ++j) ion += 0.5 * c.z2[j] * c.m[j];
            c.x[nb] = std::clamp(std::sqrt(ion), 0.1 * s0, 10 * s0);
        }
        if (!changed) break;
    }
}

/// Newton iteration from c.x; returns the number of steps, or -1 without convergence.
int Equilibrium::Newton(Config& c, const EquilibriumOptions& o, double& maxRes) {
    const int n = c.n, nb = c.r - 1;
    maxRes = INFINITY;
    if (!Evaluate(c, c.x.data(), c.R.data(), c.sc.data())) return -1;
    for (int it = 0;; ++it) {
        maxRes = 0;
        double phi0 = 0;
        for (int k = 0; k < n; ++k) {
            const double e = c.R[k] / c.sc[k];
            maxRes = std::max(maxRes, std::fabs(e));
            phi0 += e * e;
        }
        if (maxRes <= o.tolerance) return it;
        if (it >= o.maxIterations) return -1;
        Jacobian(c);
        for (int k = 0; k < n; ++k) {
            const double f = 1.0 / c.sc[k];
            for (int l = 0; l < n; ++l) c.A[k * n + l] = c.J[k * n + l] * f;
            c.dx[k] = -c.R[k] * f;
        }
        if (!SolveInPlace(c.A.data(), c.dx.data(), n)) return -1;
        double lambda = 1;
        double big = 0;
        for (int l = 0; l < nb; ++l) big = std::max(big, std::fabs(c.dx[l]));
        if (big > kMaxLogStep) lambda = kMaxLogStep / big;
        if (c.useS) {
            const double s = c.x[nb], ds = c.dx[nb];
            if (s + lambda * ds < 0.1 * s) lambda = 0.9 * s / -ds;
        }
        bool accepted = false;
        for (int tries = 0; tries < 40; ++tries) {
            for (int l = 0; l < n; ++l) c.xt[l] = c.x[l] + lambda * c.dx[l];
            if (!c.useS) c.xt[nb] = c.x[nb];
            if (Evaluate(c, c.xt.data(), c.Rt.data(), c.sct.data())) {
                double phi = 0;
                for (int k = 0; k < n; ++k) {
                    const double e = c.Rt[k] / c.sc[k];
                    phi += e * e;
                }
                if (phi <= (1 - 1e-4 * lambda) * phi0 || tries == 39) {
                    accepted = true;
                    break;
                }
            }
            lambda *= 0.5;
        }
        if (!accepted) return -1;
        std::swap(c.x, c.xt);
        std::swap(c.R, c.Rt);
        std::swap(c.sc, c.sct);
    }
}

/// From the initial guess: the full Newton method; if it stalls, Newton with the activity
/// coefficients held at a fixed ionic strength, which is updated until it settles, then
/// the full method again. Should that fail too, the outer updates go on to the end (slow,
/// but it converges where the coupled iteration does not). Returns the steps of the last
/// Newton run, or -1.
int Equilibrium::ColdStart(Config& c, const EquilibriumOptions& o, double& maxRes, int& total) {
    const int nb = c.r - 1;
    auto holdIonicStrength = [&](bool on) {
        c.useS = !on && c.act;
        c.n = nb + (c.useS ? 1 : 0);
    };
    holdIonicStrength(false);
    if (!c.act) {
        const int steps = Newton(c, o, maxRes);
        if (steps >= 0) total += steps;
        return steps;
    }
    // Most starts converge with the full method at once; give it a few dozen steps.
    std::copy(c.x.begin(), c.x.end(), c.start.begin());
    EquilibriumOptions quick = o;
    quick.maxIterations = std::min(o.maxIterations, kWarmIterations);
    int steps = Newton(c, quick, maxRes);
    if (steps >= 0) {
        total += steps;
        return steps;
    }
    total += quick.maxIterations;
    std::copy(c.start.begin(), c.start.end(), c.x.begin());
    holdIonicStrength(true);
    steps = Newton(c, o, maxRes);
    if (steps < 0) return -1;
    total += steps;
    auto ionic = [&] {
        double ion = 0;
        for (int j = 1; j < c.S; ++j) ion += 0.5 * c.z2[j] * c.m[j];
        return std::sqrt(ion);
    };
    auto settle = [&](double rel, int rounds) {
        double last = 0;
        for (int round = 0; round < rounds; ++round) {
            double& s = c.x[nb];
            double next = ionic();
            const double d = next - s;
            if (round > 0 && d * last < 0) next = s + 0.5 * d; // damp an oscillation
            last = d;
            const bool close = std::fabs(d) <= rel * s;
            s = next;
            const int k = Newton(c, o, maxRes);
            if (k < 0) return false;
            total += k;
            if (close) return true;
        }
        return false;
    };
    if (!settle(1e-2, 50)) return -1;
    holdIonicStrength(false);
    std::copy(c.x.begin(), c.x.end(), c.start.begin());
    steps = Newton(c, o, maxRes);
    if (steps >= 0) {
        total += steps;
        return steps;
    }
    std::copy(c.start.begin(), c.start.end(), c.x.begin());
    holdIonicStrength(true);
    if (!settle(1e-15, 500)) return -1;
    holdIonicStrength(false);
    steps = Newton(c, o, maxRes);
    if (steps >= 0) total += steps;
    return steps;
}

EquilibriumResult Equilibrium::Solve(std::span<const double> bulk, std::span<double> amounts,
                                     const EquilibriumOptions& options) {
    EquilibriumResult res;
    const int nElem = ElementCount();
    const int nSp = SpeciesCount();
    auto fail = [&](int16_t code, std::string msg) {
        std::fill(amounts.begin(), amounts.end(), 0.0);
        res.code = code;
        res.message = std::move(msg);
        return res;
    };
    if (nSp == 0) return fail(kEqNoSystem, "Vexil: no system is open");
    if (static_cast<int>(amounts.size()) < nSp)
        return fail(kEqBadInput, "Vexil: the amounts array is too small");
    if (static_cast<int>(bulk.size()) < nElem + 1)
        return fail(kEqBadInput, "Vexil: the bulk composition has fewer entries than elements");
    if (!std::isfinite(params_.T) || !std::isfinite(params_.A) || !std::isfinite(params_.B) ||
        !std::isfinite(params_.Bdot) || !(params_.T > 0))
        return fail(kEqNoSystem,
                    "Vexil: no valid water properties at this temperature and pressure");
    for (int e = 0; e <= nElem; ++e) {
        const double b = bulk[e];
        const std::string what = e == 0 ? std::string("water") : "element " + elementNames_[e - 1];
        if (!std::isfinite(b))
            return fail(kEqBadInput, "Vexil: the amount of " + what + " is not a number");
        if (b < 0) return fail(kEqBadInput, "Vexil: the amount of " + what + " is negative");
    }
    if (!(bulk[0] > 0)) return fail(kEqBadInput, "Vexil: the solution has no water");
    // Active elements: those with an amount, and whatever water is made of.
    uint64_t mask = 0;
    for (int e = 0; e < nElem; ++e)
        if (bulk[e + 1] != 0 || species_[0].stoich[e] != 0) mask |= uint64_t{1} << e;
    Config& c = *FindConfig(mask);
    if (!c.problem.empty()) return fail(c.problemCode, c.problem);
    if (c.gibbsVersion != gibbsVersion_) UpdateLogK(c);
    for (int j = 0; j < c.S; ++j)
        if (!std::isfinite(c.L[j]))
            return fail(kEqBadInput,
                        "Vexil: the standard Gibbs energy of a species is not a number");
    const int r = c.r;
    auto rowBulk = [&](int row) { return row < 0 ? 0.0 : bulk[row + 1]; };
    // Dependent balances must hold for the bulk itself (e.g. neutrality without redox).
    for (size_t d = 0; d < c.depRow.size(); ++d) {
        double v = rowBulk(c.depRow[d]), scale = std::fabs(v);
        for (int i = 0; i < r; ++i) {
            const double t =
                c.depY[d * static_cast<size_t>(r) + static_cast<size_t>(i)] * rowBulk(c.rows[i]);
            v -= t;
            scale += std::fabs(t);
        }
        if (std::fabs(v) > kDependentTol * scale)
            return fail(kEqInfeasible,
                        c.depCharge[d]
                            ? "Vexil: the bulk composition cannot be electrically neutral "
                              "with the species of the system"
                            : "Vexil: the element amounts cannot be matched by the "
                              "species of the system");
    }
    // Component totals: water's own amount, plus the excess elements in the basis.
    for (int k = 0; k < r; ++k) {
        double s = 0;
        for (int i = 0; i < r; ++i) s += c.binv[k * r + i] * rowBulk(c.rows[i]);
        c.q[k] = s;
    }
    c.Tw = bulk[0] + c.q[0];
    if (!(c.Tw > 0)) return fail(kEqInfeasible, "Vexil: the bulk composition leaves no water");
    for (int k = 1; k < r; ++k) {
        c.tau[k] = c.q[k] / c.Tw;
        const int sign = c.compSign[k];
        if ((sign == 1 && !(c.q[k] > 0)) || (sign == -1 && !(c.q[k] < 0)))
            return fail(
                kEqInfeasible,
                "Vexil: the element amounts cannot be matched by the species of the system");
    }
    const int nb = r - 1;
    for (int j = 0; j < c.S; ++j)
        for (int k = 1; k < r; ++k) c.cm[j * nb + k - 1] = c.nu[j * r + k] - c.tau[k] * c.nu[j * r];
    c.act = options.activity == ActivityModel::BDot && c.hasIons;
    auto setMode = [&](bool full) {
        c.useS = full && c.act;
        c.n = nb + (c.useS ? 1 : 0);
    };

    double maxRes = 0;
    int steps = -1;
    int total = 0;
    // A warm start only for a nearby composition: no component total may change sign or
    // by more than a factor of 1000; components held only positively start scaled.
    bool nearby = options.warmStart && c.haveWarm;
    for (int k = 1; k < r && nearby; ++k) {
        const double now = c.tau[k], then = c.warmTau[k];
        nearby = (now > 0) == (then > 0) && (now < 0) == (then < 0) &&
                 (now == then || std::fabs(std::log(now / then)) < std::log(1e3));
    }
    if (nearby) {
        setMode(true);
        c.x = c.warm;
        for (int k = 1; k < r; ++k) {
            const double now = c.tau[k], then = c.warmTau[k];
            if (c.compSign[k] == 1 && now != then) c.x[k - 1] += std::log(now / then);
        }
        // A start that does not converge quickly is worse than a cold one.
        EquilibriumOptions quick = options;
        quick.maxIterations = std::min(options.maxIterations, kWarmIterations);
        steps = Newton(c, quick, maxRes);
        total = steps >= 0 ? steps : quick.maxIterations;
    }
    if (steps < 0) {
        // No previous result, or it led nowhere: start afresh.
        setMode(false);
        InitialGuess(c);
        steps = ColdStart(c, options, maxRes, total);
    }
    res.iterations = total;
    if (steps < 0) {
        c.haveWarm = false;
        return fail(kEqNoConvergence,
                    std::isfinite(maxRes)
                        ? "Vexil: no convergence after " + std::to_string(options.maxIterations) +
                              " iterations (relative residual " + Number(maxRes) + ")"
                        : std::string("Vexil: no convergence (the amounts overflow)"));
    }
    // Amounts from molalities: kilograms of water W from the water component.
    double ion = 0, denom = kWaterMolality;
    for (int j = 1; j < c.S; ++j) {
        denom += c.nu[j * r] * c.m[j];
        ion += 0.5 * c.z2[j] * c.m[j];
    }
    const double W = c.Tw / denom;
    if (!(W > 0) || !std::isfinite(W))
        return fail(kEqNoConvergence, "Vexil: no convergence (no water left)");
    std::fill(amounts.begin(), amounts.end(), 0.0);
    amounts[0] = kWaterMolality * W;
    for (int j = 1; j < c.S; ++j) amounts[c.sp[j]] = W * c.m[j];
    // Final check in element space: never hand out an unbalanced speciation.
    for (int e = 0; e <= nElem; ++e) {
        if (e < nElem && !(mask >> e & 1u)) continue;
        double sum = 0, scale = 0;
        for (int j = 0; j < c.S; ++j) {
            const auto& sp = species_[c.sp[j]];
            const double coef = e < nElem ? sp.stoich[e] : sp.charge;
            const double t = coef * amounts[c.sp[j]];
            sum += t;
            scale += std::fabs(t);
        }
        const double target = e < nElem ? bulk[0] * species_[0].stoich[e] + bulk[e + 1] : 0.0;
        scale = std::max(scale, std::fabs(target));
        if (std::fabs(sum - target) > std::max(kVerifyTol, 100 * options.tolerance) * scale) {
            c.haveWarm = false;
            return fail(kEqNoConvergence,
                        "Vexil: no convergence (balance of " +
                            (e < nElem ? elementNames_[e] : std::string("charge")) + " off by " +
                            Number(sum - target) + ")");
        }
    }
    res.ionicStrength = c.useS ? c.x[nb] * c.x[nb] : ion;
    if (!c.useS) c.x[nb] = std::sqrt(ion);
    c.warm = c.x;
    c.warmTau = c.tau;
    c.haveWarm = true;
    return res;
}

} // namespace lumora
