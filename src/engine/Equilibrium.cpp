#include "engine/Equilibrium.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <optional>

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
/// Relative element or charge residual above which a "converged" result is refused (or 10 x
/// a looser tolerance). The Newton test of 1e-13 on the reduced balances leaves at most
/// 2e-13 here (random compositions of every bundled system, 0..350 C).
constexpr double kVerifyTol = 1e-12;

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

/// Why a solve is refused: its code and message.
struct Failure {
    int16_t code;
    std::string message;
};

/// The active species of a reduced problem (local index j, water first) and their
/// coefficients in the constraint rows: element index m - 1, or -1 for the charge.
class ActiveSpecies {
public:
    ActiveSpecies(const std::vector<EquilibriumSpecies>& species, const std::vector<int>& sp)
        : species_(species), sp_(sp) {}
    const EquilibriumSpecies& operator[](int j) const { return species_[sp_[j]]; }
    double Coef(int row, int j) const {
        const auto& s = (*this)[j];
        return row < 0 ? s.charge : s.stoich[row];
    }

private:
    const std::vector<EquilibriumSpecies>& species_;
    const std::vector<int>& sp_;
};

/// Constraint rows of a set of elements: the active elements, then the charge (-1).
std::vector<int> ConstraintRows(uint64_t mask, int nElem) {
    std::vector<int> rows;
    for (int e = 0; e < nElem; ++e)
        if ((mask >> e & 1u) != 0) rows.push_back(e);
    rows.push_back(-1);
    return rows;
}

/// The bulk amount behind a constraint row (the charge of the bulk is 0).
double RowBulk(std::span<const double> bulk, int row) {
    return row < 0 ? 0.0 : bulk[row + 1];
}

/// Why the arguments of a solve cannot be used, if they cannot.
std::optional<Failure> CheckRequest(std::span<const double> bulk, size_t amountCount,
                                    int speciesCount, const std::vector<std::string>& elementNames,
                                    const ActivityParams& p) {
    const int nElem = static_cast<int>(elementNames.size());
    if (speciesCount == 0) return Failure{kEqNoSystem, "Vexil: no system is open"};
    if (static_cast<int>(amountCount) < speciesCount)
        return Failure{kEqBadInput, "Vexil: the amounts array is too small"};
    if (static_cast<int>(bulk.size()) < nElem + 1)
        return Failure{kEqBadInput, "Vexil: the bulk composition has fewer entries than elements"};
    if (!std::isfinite(p.T) || !std::isfinite(p.A) || !std::isfinite(p.B) ||
        !std::isfinite(p.Bdot) || !(p.T > 0))
        return Failure{kEqNoSystem,
                       "Vexil: no valid water properties at this temperature and pressure"};
    for (int e = 0; e <= nElem; ++e) {
        const double b = bulk[e];
        const std::string what = e == 0 ? std::string("water") : "element " + elementNames[e - 1];
        if (!std::isfinite(b))
            return Failure{kEqBadInput, "Vexil: the amount of " + what + " is not a number"};
        if (b < 0) return Failure{kEqBadInput, "Vexil: the amount of " + what + " is negative"};
    }
    if (!(bulk[0] > 0)) return Failure{kEqBadInput, "Vexil: the solution has no water"};
    return std::nullopt;
}

/// The elements with an amount, and whatever water is made of.
uint64_t ActiveElements(std::span<const double> bulk, const EquilibriumSpecies& water, int nElem) {
    uint64_t mask = 0;
    for (int e = 0; e < nElem; ++e)
        if (bulk[e + 1] != 0 || water.stoich[e] != 0) mask |= uint64_t{1} << e;
    return mask;
}

Failure NoConvergence(double maxRes, int maxIterations) {
    return {kEqNoConvergence, std::isfinite(maxRes)
                                  ? "Vexil: no convergence after " + std::to_string(maxIterations) +
                                        " iterations (relative residual " + Number(maxRes) + ")"
                                  : std::string("Vexil: no convergence (the amounts overflow)")};
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

    // Building, once per set of elements (in this order).
    void Refuse(int16_t code, std::string why);
    bool SelectSpecies(const std::vector<EquilibriumSpecies>& species, int nElem);
    bool HoldsEveryElement(const ActiveSpecies& active, const std::vector<int>& rowsAll,
                           const std::vector<std::string>& elementNames);
    void ChooseBasis(const ActiveSpecies& active, const std::vector<int>& rowsAll);
    std::vector<int> IndependentRows(const ActiveSpecies& active,
                                     const std::vector<int>& rowsAll) const;
    bool InvertBasis(const ActiveSpecies& active, const std::vector<int>& rowsAll,
                     const std::vector<int>& selected);
    void ExpressInBasis(const ActiveSpecies& active);
    void FindDependentRows(const ActiveSpecies& active, const std::vector<int>& rowsAll,
                           const std::vector<int>& selected);
    void ClassifyComponents();
    void TakeCharges(const ActiveSpecies& active);
    void AllocateWork();

    // Setting up a solve.
    bool LogKFinite() const;
    std::optional<Failure> CheckDependentBalances(std::span<const double> bulk) const;
    std::optional<Failure> SetComponentTotals(std::span<const double> bulk);
    void EliminateWater();
    void HoldIonicStrength(bool on);
    bool NearWarmStart() const;
    void StartFromWarm();

    // After convergence.
    double WaterMass() const;
    void WriteAmounts(double W, std::span<double> amounts) const;
    std::optional<Failure> CheckBalances(const std::vector<EquilibriumSpecies>& species,
                                         const std::vector<std::string>& elementNames,
                                         std::span<const double> bulk,
                                         std::span<const double> amounts, double tolerance) const;
    double KeepAsWarmStart();
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
    if (!c.SelectSpecies(species_, ElementCount())) return;
    const std::vector<int> rowsAll = ConstraintRows(c.mask, ElementCount());
    const ActiveSpecies active(species_, c.sp);
    if (!c.HoldsEveryElement(active, rowsAll, elementNames_)) return;
    c.ChooseBasis(active, rowsAll);
    const std::vector<int> selected = c.IndependentRows(active, rowsAll);
    if (!c.InvertBasis(active, rowsAll, selected)) return;
    c.ExpressInBasis(active);
    c.FindDependentRows(active, rowsAll, selected);
    c.ClassifyComponents();
    c.TakeCharges(active);
    c.AllocateWork();
}

void Equilibrium::Config::Refuse(int16_t code, std::string why) {
    problem = std::move(why);
    problemCode = code;
}

/// The species made of active elements only; water must be one of them.
bool Equilibrium::Config::SelectSpecies(const std::vector<EquilibriumSpecies>& species, int nElem) {
    for (int i = 0; i < static_cast<int>(species.size()); ++i) {
        bool ok = true;
        for (int e = 0; e < nElem && ok; ++e)
            if (species[i].stoich[e] != 0 && (mask >> e & 1u) == 0) ok = false;
        if (ok)
            sp.push_back(i);
        else if (i == 0) {
            Refuse(kEqInfeasible, "Vexil: water holds an element without amount");
            return false;
        }
    }
    if (sp.empty() || sp[0] != 0) {
        Refuse(kEqNoSystem, "Vexil: the system has no water");
        return false;
    }
    S = static_cast<int>(sp.size());
    return true;
}

bool Equilibrium::Config::HoldsEveryElement(const ActiveSpecies& active,
                                            const std::vector<int>& rowsAll,
                                            const std::vector<std::string>& elementNames) {
    for (int row : rowsAll) {
        if (row < 0) continue;
        bool held = false;
        for (int j = 0; j < S && !held; ++j) held = active.Coef(row, j) != 0;
        if (!held) {
            Refuse(kEqInfeasible, "Vexil: no aqueous species holds element " + elementNames[row]);
            return false;
        }
    }
    return true;
}

/// Basis: water, then the simplest species (fewest atoms, then system order) that are
/// independent of those chosen.
void Equilibrium::Config::ChooseBasis(const ActiveSpecies& active,
                                      const std::vector<int>& rowsAll) {
    const int nRows = static_cast<int>(rowsAll.size());
    std::vector<int> order(static_cast<size_t>(S));
    std::iota(order.begin(), order.end(), 0);
    auto atoms = [&](int j) {
        double n = 0;
        for (int row : rowsAll)
            if (row >= 0) n += std::fabs(active.Coef(row, j));
        return n;
    };
    std::stable_sort(order.begin() + 1, order.end(),
                     [&](int p, int q) { return atoms(p) < atoms(q); });
    Echelon cols(nRows);
    for (int j : order) {
        std::vector<double> v(static_cast<size_t>(nRows));
        for (int i = 0; i < nRows; ++i) v[i] = active.Coef(rowsAll[i], j);
        if (cols.Add(std::move(v))) basis.push_back(j);
    }
    r = static_cast<int>(basis.size());
}

/// Positions in rowsAll of independent rows of the basis columns (elements first, the
/// charge last).
std::vector<int> Equilibrium::Config::IndependentRows(const ActiveSpecies& active,
                                                      const std::vector<int>& rowsAll) const {
    const int nRows = static_cast<int>(rowsAll.size());
    Echelon rowSet(r);
    std::vector<int> selected;
    for (int i = 0; i < nRows; ++i) {
        std::vector<double> v(static_cast<size_t>(r));
        for (int k = 0; k < r; ++k) v[k] = active.Coef(rowsAll[i], basis[k]);
        if (rowSet.Add(std::move(v))) selected.push_back(i);
    }
    return selected;
}

/// Inverse of the square matrix (selected rows x basis columns), and the selected rows.
bool Equilibrium::Config::InvertBasis(const ActiveSpecies& active, const std::vector<int>& rowsAll,
                                      const std::vector<int>& selected) {
    std::vector<double> bsq(static_cast<size_t>(r * r));
    for (int i = 0; i < r; ++i)
        for (int k = 0; k < r; ++k) bsq[i * r + k] = active.Coef(rowsAll[selected[i]], basis[k]);
    binv.assign(static_cast<size_t>(r * r), 0.0);
    for (int col = 0; col < r; ++col) {
        std::vector<double> work(bsq), e(static_cast<size_t>(r), 0.0);
        e[col] = 1;
        if (!SolveInPlace(work.data(), e.data(), r)) {
            Refuse(kEqNoConvergence, "Vexil: singular basis");
            return false;
        }
        for (int i = 0; i < r; ++i) binv[i * r + col] = e[i];
    }
    for (int i = 0; i < r; ++i) rows.push_back(rowsAll[selected[i]]);
    return true;
}

/// Stoichiometry of every species in the basis.
void Equilibrium::Config::ExpressInBasis(const ActiveSpecies& active) {
    nu.assign(static_cast<size_t>(S * r), 0.0);
    for (int j = 0; j < S; ++j)
        for (int k = 0; k < r; ++k) {
            double s = 0;
            for (int i = 0; i < r; ++i) s += binv[k * r + i] * active.Coef(rows[i], j);
            nu[j * r + k] = Snap(s);
        }
}

/// Dependent rows: row d = sum_i y_i (selected row i).
void Equilibrium::Config::FindDependentRows(const ActiveSpecies& active,
                                            const std::vector<int>& rowsAll,
                                            const std::vector<int>& selected) {
    const int nRows = static_cast<int>(rowsAll.size());
    for (int d = 0; d < nRows; ++d) {
        if (std::find(selected.begin(), selected.end(), d) != selected.end()) continue;
        depRow.push_back(rowsAll[d]);
        bool charge = rowsAll[d] < 0;
        for (int i = 0; i < r; ++i) {
            double y = 0;
            for (int l = 0; l < r; ++l) y += active.Coef(rowsAll[d], basis[l]) * binv[l * r + i];
            y = Snap(y);
            depY.push_back(y);
            if (rows[i] < 0 && y != 0) charge = true;
        }
        depCharge.push_back(charge ? 1 : 0);
    }
}

/// The sign every species holds each component with (0 when mixed), and the largest
/// coefficient.
void Equilibrium::Config::ClassifyComponents() {
    compSign.assign(static_cast<size_t>(r), 0);
    compMaxNu.assign(static_cast<size_t>(r), 0.0);
    for (int k = 1; k < r; ++k) {
        bool pos = true, neg = true;
        double mx = 0;
        for (int j = 1; j < S; ++j) {
            const double v = nu[j * r + k];
            if (v < 0) pos = false;
            if (v > 0) neg = false;
            mx = std::max(mx, std::fabs(v));
        }
        compSign[k] = pos ? 1 : (neg ? -1 : 0);
        compMaxNu[k] = mx;
    }
}

void Equilibrium::Config::TakeCharges(const ActiveSpecies& active) {
    for (int j = 0; j < S; ++j) {
        const auto& s = active[j];
        z.push_back(s.charge);
        z2.push_back(s.charge * s.charge);
        a.push_back(s.ionSize);
        if (j > 0 && s.charge != 0) hasIons = true;
    }
}

/// Everything a solve writes, sized once so that solves do not allocate.
void Equilibrium::Config::AllocateWork() {
    const size_t nr = static_cast<size_t>(r);
    const size_t ns = static_cast<size_t>(S);
    L.assign(ns, 0.0);
    q.assign(nr, 0.0);
    tau.assign(nr, 0.0);
    cm.assign(ns * nr, 0.0);
    for (auto* v : {&x, &xt, &dx, &R, &Rt, &sc, &sct, &warm, &warmTau, &start}) v->assign(nr, 0.0);
    for (auto* v : {&J, &A}) v->assign(nr * nr, 0.0);
    for (auto* v : {&m, &g, &gp, &hp}) v->assign(ns, 0.0);
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
    c.HoldIonicStrength(false);
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
    c.HoldIonicStrength(true);
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
    c.HoldIonicStrength(false);
    std::copy(c.x.begin(), c.x.end(), c.start.begin());
    steps = Newton(c, o, maxRes);
    if (steps >= 0) {
        total += steps;
        return steps;
    }
    std::copy(c.start.begin(), c.start.end(), c.x.begin());
    c.HoldIonicStrength(true);
    if (!settle(1e-15, 500)) return -1;
    c.HoldIonicStrength(false);
    steps = Newton(c, o, maxRes);
    if (steps >= 0) total += steps;
    return steps;
}

EquilibriumResult Equilibrium::Solve(std::span<const double> bulk, std::span<double> amounts,
                                     const EquilibriumOptions& options) {
    EquilibriumResult res;
    auto fail = [&](Failure f) {
        std::fill(amounts.begin(), amounts.end(), 0.0);
        res.code = f.code;
        res.message = std::move(f.message);
        return res;
    };
    if (auto f = CheckRequest(bulk, amounts.size(), SpeciesCount(), elementNames_, params_))
        return fail(std::move(*f));
    Config& c = *FindConfig(ActiveElements(bulk, species_[0], ElementCount()));
    if (!c.problem.empty()) return fail({c.problemCode, c.problem});
    if (c.gibbsVersion != gibbsVersion_) UpdateLogK(c);
    if (!c.LogKFinite())
        return fail({kEqBadInput, "Vexil: the standard Gibbs energy of a species is not a number"});
    if (auto f = c.CheckDependentBalances(bulk)) return fail(std::move(*f));
    if (auto f = c.SetComponentTotals(bulk)) return fail(std::move(*f));
    c.EliminateWater();
    c.act = options.activity == ActivityModel::BDot && c.hasIons;

    double maxRes = 0;
    int total = 0;
    int steps = WarmStart(c, options, maxRes, total);
    if (steps < 0) {
        // No previous result, or it led nowhere: start afresh.
        c.HoldIonicStrength(true);
        InitialGuess(c);
        steps = ColdStart(c, options, maxRes, total);
    }
    res.iterations = total;
    if (steps < 0) {
        c.haveWarm = false;
        return fail(NoConvergence(maxRes, options.maxIterations));
    }
    const double W = c.WaterMass();
    if (!(W > 0) || !std::isfinite(W))
        return fail({kEqNoConvergence, "Vexil: no convergence (no water left)"});
    c.WriteAmounts(W, amounts);
    if (auto f = c.CheckBalances(species_, elementNames_, bulk, amounts, options.tolerance)) {
        c.haveWarm = false;
        return fail(std::move(*f));
    }
    res.ionicStrength = c.KeepAsWarmStart();
    return res;
}

bool Equilibrium::Config::LogKFinite() const {
    for (int j = 0; j < S; ++j)
        if (!std::isfinite(L[j])) return false;
    return true;
}

/// Dependent balances must hold for the bulk itself (e.g. neutrality without redox).
std::optional<Failure>
Equilibrium::Config::CheckDependentBalances(std::span<const double> bulk) const {
    for (size_t d = 0; d < depRow.size(); ++d) {
        double v = RowBulk(bulk, depRow[d]), scale = std::fabs(v);
        for (int i = 0; i < r; ++i) {
            const double t =
                depY[d * static_cast<size_t>(r) + static_cast<size_t>(i)] * RowBulk(bulk, rows[i]);
            v -= t;
            scale += std::fabs(t);
        }
        if (std::fabs(v) > kDependentTol * scale)
            return Failure{kEqInfeasible,
                           depCharge[d] ? "Vexil: the bulk composition cannot be electrically "
                                          "neutral with the species of the system"
                                        : "Vexil: the element amounts cannot be matched by the "
                                          "species of the system"};
    }
    return std::nullopt;
}

/// Component totals: water's own amount, plus the excess elements in the basis.
std::optional<Failure> Equilibrium::Config::SetComponentTotals(std::span<const double> bulk) {
    for (int k = 0; k < r; ++k) {
        double s = 0;
        for (int i = 0; i < r; ++i) s += binv[k * r + i] * RowBulk(bulk, rows[i]);
        q[k] = s;
    }
    Tw = bulk[0] + q[0];
    if (!(Tw > 0)) return Failure{kEqInfeasible, "Vexil: the bulk composition leaves no water"};
    for (int k = 1; k < r; ++k) {
        tau[k] = q[k] / Tw;
        const int sign = compSign[k];
        if ((sign == 1 && !(q[k] > 0)) || (sign == -1 && !(q[k] < 0)))
            return Failure{
                kEqInfeasible,
                "Vexil: the element amounts cannot be matched by the species of the system"};
    }
    return std::nullopt;
}

/// The stoichiometry with water eliminated: cm_jk = nu_jk - tau_k nu_j0.
void Equilibrium::Config::EliminateWater() {
    const int nb = r - 1;
    for (int j = 0; j < S; ++j)
        for (int k = 1; k < r; ++k) cm[j * nb + k - 1] = nu[j * r + k] - tau[k] * nu[j * r];
}

/// With the ionic strength held, sqrt(I) stays where it is and the Newton unknowns are the
/// basis solutes alone (always so without activity coefficients).
void Equilibrium::Config::HoldIonicStrength(bool on) {
    useS = !on && act;
    n = r - 1 + (useS ? 1 : 0);
}

/// A warm start only for a nearby composition: no component total may change sign or by
/// more than a factor of 1000.
bool Equilibrium::Config::NearWarmStart() const {
    for (int k = 1; k < r; ++k) {
        const double now = tau[k], then = warmTau[k];
        const bool near = (now > 0) == (then > 0) && (now < 0) == (then < 0) &&
                          (now == then || std::fabs(std::log(now / then)) < std::log(1e3));
        if (!near) return false;
    }
    return true;
}

/// The previous result, with the components held only positively scaled to their new
/// totals.
void Equilibrium::Config::StartFromWarm() {
    x = warm;
    for (int k = 1; k < r; ++k) {
        const double now = tau[k], then = warmTau[k];
        if (compSign[k] == 1 && now != then) x[k - 1] += std::log(now / then);
    }
}

/// Newton from the previous result of this set of elements. Returns the steps, or -1 when
/// there is no such start or it does not converge quickly; total gets the steps spent.
int Equilibrium::WarmStart(Config& c, const EquilibriumOptions& o, double& maxRes, int& total) {
    if (!o.warmStart || !c.haveWarm || !c.NearWarmStart()) return -1;
    c.HoldIonicStrength(false);
    c.StartFromWarm();
    // A start that does not converge quickly is worse than a cold one.
    EquilibriumOptions quick = o;
    quick.maxIterations = std::min(o.maxIterations, kWarmIterations);
    const int steps = Newton(c, quick, maxRes);
    total = steps >= 0 ? steps : quick.maxIterations;
    return steps;
}

/// Kilograms of water of the solution, from the water component.
double Equilibrium::Config::WaterMass() const {
    double denom = kWaterMolality;
    for (int j = 1; j < S; ++j) denom += nu[j * r] * m[j];
    return Tw / denom;
}

/// Amounts from molalities; species of inactive elements get 0.
void Equilibrium::Config::WriteAmounts(double W, std::span<double> amounts) const {
    std::fill(amounts.begin(), amounts.end(), 0.0);
    amounts[0] = kWaterMolality * W;
    for (int j = 1; j < S; ++j) amounts[sp[j]] = W * m[j];
}

/// Final check in element space: never hand out an unbalanced speciation.
std::optional<Failure> Equilibrium::Config::CheckBalances(
    const std::vector<EquilibriumSpecies>& species, const std::vector<std::string>& elementNames,
    std::span<const double> bulk, std::span<const double> amounts, double tolerance) const {
    const int nElem = static_cast<int>(elementNames.size());
    for (int e = 0; e <= nElem; ++e) {
        if (e < nElem && !(mask >> e & 1u)) continue;
        double sum = 0, scale = 0;
        for (int j = 0; j < S; ++j) {
            const auto& s = species[sp[j]];
            const double coef = e < nElem ? s.stoich[e] : s.charge;
            const double t = coef * amounts[sp[j]];
            sum += t;
            scale += std::fabs(t);
        }
        const double target = e < nElem ? bulk[0] * species[0].stoich[e] + bulk[e + 1] : 0.0;
        scale = std::max(scale, std::fabs(target));
        if (std::fabs(sum - target) > std::max(kVerifyTol, 10 * tolerance) * scale)
            return Failure{kEqNoConvergence,
                           "Vexil: no convergence (balance of " +
                               (e < nElem ? elementNames[e] : std::string("charge")) + " off by " +
                               Number(sum - target) + ")"};
    }
    return std::nullopt;
}

/// Keeps the result as the next warm start and returns its ionic strength; sqrt(I) is
/// set from the molalities where it was not an unknown.
double Equilibrium::Config::KeepAsWarmStart() {
    const int nb = r - 1;
    double ion = 0;
    for (int j = 1; j < S; ++j) ion += 0.5 * z2[j] * m[j];
    const double I = useS ? x[nb] * x[nb] : ion;
    if (!useS) x[nb] = std::sqrt(ion);
    warm = x;
    warmTau = tau;
    haveWarm = true;
    return I;
}

} // namespace lumora
