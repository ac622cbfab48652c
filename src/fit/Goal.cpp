#include "fit/Goal.h"

#include "base/RuntimeError.h"
#include "fit/AbsorptivityFit.h"
#include "linalg/LinearAlgebra.h"
#include "model/EvaluateGaussians.h"
#include "model/GaussBand.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>
#include <span>
#include <thread>
#include <vector>

namespace lumora {

namespace {

constexpr const char* kObjectNotSet = "Object variable or With block variable not set";

/// Working storage of one evaluation, kept between calls so that the optimizer's
/// thousands of calls do not allocate.
struct GoalWork {
    std::vector<double> root;      ///< square root of each solution's weight
    std::vector<double> yT;        ///< weighted unit concentrations, species fastest, padded
    std::vector<double> xw;        ///< weighted data of one wavelength
    std::vector<uint8_t> valid;    ///< which of them are valid
    std::vector<double> g;         ///< normal matrix of one wavelength
    std::vector<double> rhs;       ///< its right-hand side
    std::vector<double> backup;    ///< the normal matrix before any constraint, NormM layout
    std::vector<double> p;         ///< the non-negative solution
    AbsorptivityFit fit;           ///< the wavelengths fitted together
    std::vector<double> absT;      ///< AbsM transposed, (wavelength, solution), wavelength fastest
    std::vector<double> epsScaled; ///< Eps(k, w) * Conc(k, 0), (species, wavelength)
    std::vector<double> concT;     ///< unit concentrations, solutions fastest, padded
    std::vector<double> calc;      ///< calculated absorbances of one wavelength, padded
    std::vector<double> sq;        ///< each solution's sum of squared residuals
    std::vector<int> count;        ///< and its number of valid values
    std::vector<int> overflow;     ///< and whether a calculated absorbance overflowed
    Mat<double> d;                 ///< covariance, then eigenvalues and eigenvectors
    Mat<double> wf;                ///< factor scores (wavelength, factor)
    Mat<double> z;                 ///< reconstructed data (solution, wavelength)
    Mat<double> jac;               ///< Gaussian-mode Jacobian (solution, parameter)
    Mat<double> nrm;               ///< Gaussian-mode normal matrix
    std::vector<int> bandSpecies;
    std::vector<double> solFactor; ///< weight / valid values of each solution
    std::vector<double> abscissa;  ///< scaled abscissa of each wavelength
    std::vector<double> bandValue; ///< the bands at one wavelength
    Mat<double> step;              ///< the damped normal matrix, then the step
    Mat<double> bandsBefore;       ///< the bands before a trial step
};

GoalWork& Work() {
    thread_local GoalWork work;
    return work;
}

template <class T> void EnsureDims(Mat<T>& m, int n1, int n2) {
    if (!m.Dimensioned() || m.UBound1() != n1 || m.UBound2() != n2) m.Redim(n1, n2);
}

template <class T> std::span<T> All(Vec<T>& v) {
    return std::span<T>(v.Data(), static_cast<size_t>(v.Size()));
}

bool Valid(double a) {
    return a < kMissingLimit;
}

/// The failure exit: show the solver's last word unless it has nothing to say,
/// then turn every status but the interrupt into the general failure.
void FailureExit(State& st) {
    if (!st.solver) throw RuntimeError(kObjectNotSet);
    const std::string last = st.solver->LastMessage();
    if (st.ErrCode != -1 && !last.empty() && last != "OK") st.Message(last, Icon::Critical);
    if (st.ErrCode != kInterrupt) st.ErrCode = -1;
}

/// Equilibrates solution j with the element amounts of `bulk`; returns the factor
/// that turns species amounts into concentrations, or false after the failure exit.
bool Equilibrate(State& st, const Mat<double>& bulk, int j, double& f) {
    for (int e = 0; e <= st.nEl; ++e) st.WBulk(e) = bulk(e, j);
    if (st.ErrCode != 0) {
        FailureExit(st);
        return false;
    }
    int16_t code = 0;
    st.solver->Equilibrate(st.TC, st.PBar, All(st.WArr1), All(st.WBulk), All(st.WAmt),
                           All(st.WArr2), code);
    st.ErrCode = code;
    st.ui->yield();
    if (st.ErrCode != 0) {
        FailureExit(st);
        return false;
    }
    f = CheckedDiv(kWaterMolality, st.WAmt(st.AqFirst)) * static_cast<double>(st.SolDens(j));
    return true;
}

bool Speciate(State& st) {
    if (!st.solver) throw RuntimeError(kObjectNotSet);
    for (int i = 1; i <= st.nSp; ++i) st.solver->SetSpeciesG(st.SpIdx(i), CSng(st.G0(i)));
    if (!st.WBulk.Dimensioned() || st.WBulk.UBound() != st.nEl) st.WBulk.Redim(st.nEl);
    for (int j = 1; j <= st.nSol; ++j) {
        double f = 0.0;
        if (!Equilibrate(st, st.Bulk, j, f)) return false;
        for (int k = 1; k <= st.nSp; ++k) st.Conc.At(k, j) = f * st.WAmt(st.SpIdx(k));
        if (!Equilibrate(st, st.BulkCorr, j, f)) return false;
        for (int k = 1; k <= st.nSp; ++k) st.Conc.At(k, j) -= f * st.WAmt(st.SpIdx(k));
    }
    return true;
}

/// Rows of Conc to unit length, the norm kept in Conc(k, 0).
void Normalize(State& st) {
    for (int k = 1; k <= st.nSp; ++k) {
        double s = 0.0;
        for (int j = 1; j <= st.nSol; ++j) s += st.Conc.At(k, j) * st.Conc.At(k, j);
        const double n = CheckedSqrt(s);
        st.Conc.At(k, 0) = n;
        for (int j = 1; j <= st.nSol; ++j) st.Conc.At(k, j) = CheckedDiv(st.Conc.At(k, j), n);
    }
}

/// AbsM transposed into absT, so that the sums over wavelengths run over
/// contiguous memory.
void TransposeData(const State& st, GoalWork& wk) {
    const size_t ld = static_cast<size_t>(st.nWl) + 1;
    wk.absT.assign(static_cast<size_t>(st.nSol + 1) * ld, 0.0);
    for (int w = 1; w <= st.nWl; ++w)
        for (int j = 1; j <= st.nSol; ++j) wk.absT[j * ld + w] = st.AbsM.At(j, w);
}

/// The weighted covariance of the solutions' spectra over their valid values, each
/// solution's mean kept in d(j, 0).
void Covariance(const State& st, GoalWork& wk) {
    const int nSol = st.nSol;
    const int nWl = st.nWl;
    const size_t ld = static_cast<size_t>(nWl) + 1;
    auto row = [&](int j) { return &wk.absT[j * ld]; };
    Mat<double>& d = wk.d;
    d.Redim(nSol, nSol);
    for (int j = 1; j <= nSol; ++j) {
        const double* a = row(j);
        double sum = 0.0;
        int cnt = 0;
        for (int w = 1; w <= nWl; ++w)
            if (Valid(a[w])) {
                sum += a[w];
                ++cnt;
            }
        d.At(j, 0) = CheckedDiv(sum, cnt);
    }
    for (int j1 = 1; j1 <= nSol; ++j1) {
        const double* a1 = row(j1);
        const double m1 = d.At(j1, 0);
        for (int j2 = j1; j2 <= nSol; ++j2) {
            const double* a2 = row(j2);
            const double m2 = d.At(j2, 0);
            const float wProd = st.SolWeight(j2) * st.SolWeight(j1);
            const double r = CheckedSqrt(wProd);
            double s = 0.0;
            int cnt = 0;
            for (int w = 1; w <= nWl; ++w)
                if (Valid(a1[w]) && Valid(a2[w])) {
                    s += (a2[w] - m2) * (a1[w] - m1) * r;
                    ++cnt;
                }
            s = CheckedDiv(s * nWl, cnt);
            d.At(j1, j2) = s;
            d.At(j2, j1) = s;
        }
    }
}

/// The number of factors to keep, their eigenvalues in d(0, i) turned into
/// singular values. A count chosen for another data set must not reach past the
/// positive eigenvalues.
int FactorCount(const State& st, Mat<double>& d) {
    int m = 0;
    while (m < st.nFactors && m < st.nSol && d.At(0, m + 1) > 0.0) ++m;
    for (int i = 1; i <= m; ++i) d.At(0, i) = CheckedSqrt(d.At(0, i));
    return m;
}

/// The factor scores of every wavelength, (wavelength, factor).
void FactorScores(const State& st, GoalWork& wk, int m) {
    const Mat<double>& d = wk.d;
    wk.wf.Redim(st.nWl, std::max(m, 0));
    for (int w = 1; w <= st.nWl; ++w) {
        for (int i = 1; i <= m; ++i) {
            double s = 0.0;
            for (int j = 1; j <= st.nSol; ++j) {
                const double a = st.AbsM.At(j, w);
                if (Valid(a)) s += (a - d.At(j, 0)) * d.At(j, i);
            }
            wk.wf.At(w, i) = CheckedDiv(s, d.At(0, i));
        }
    }
}

/// The data rebuilt from the means and the first m factors.
void Reconstruct(const State& st, GoalWork& wk, int m) {
    const Mat<double>& d = wk.d;
    wk.z.Redim(st.nSol, st.nWl);
    for (int w = 1; w <= st.nWl; ++w) {
        for (int j = 1; j <= st.nSol; ++j) {
            double v = d.At(j, 0);
            for (int i = 1; i <= m; ++i) v += wk.wf.At(w, i) * d.At(j, i) * d.At(0, i);
            wk.z.At(j, w) = v;
        }
    }
}

/// Replaces the data by their projection on the first nFactors principal factors
/// of the solutions (fewer when the data have fewer positive eigenvalues).
const Mat<double>& ReconstructFactors(State& st, GoalWork& wk) {
    TransposeData(st, wk);
    Covariance(st, wk);
    SymmetricEigen(st.nSol, wk.d);
    const int m = FactorCount(st, wk.d);
    FactorScores(st, wk, m);
    Reconstruct(st, wk, m);
    return wk.z;
}

/// The square roots of the weights and the weighted unit concentrations.
void Weight(State& st, GoalWork& wk) {
    const int nSp = st.nSp;
    const size_t ld = AbsorptivityProblem{.nSp = nSp}.Stride();
    wk.root.assign(static_cast<size_t>(st.nSol) + 1, 0.0);
    wk.yT.assign((static_cast<size_t>(st.nSol) + 1) * ld, 0.0);
    for (int j = 1; j <= st.nSol; ++j) {
        const double r = CheckedSqrt(st.SolWeight(j));
        wk.root[j] = r;
        for (int k = 1; k <= nSp; ++k) wk.yT[j * ld + k - 1] = r * st.Conc.At(k, j);
    }
}

AbsorptivityProblem Problem(const State& st, const Mat<double>& a, const GoalWork& wk) {
    return {st.nSp, st.nSol, &a, wk.root.data(), wk.yT.data(), st.Damping};
}

/// Normal equations of the wavelength in xw (damped diagonal), NormM(a, 0) the
/// right-hand side; the same matrix is kept in the backup.
void BuildNormal(State& st, const Mat<double>& a, GoalWork& wk) {
    const int nSp = st.nSp;
    const size_t ldm = static_cast<size_t>(nSp) + 1;
    const AbsorptivityProblem pr = Problem(st, a, wk);
    NormalMatrix(pr, wk.valid.data(), wk.g.data());
    RightHandSide(pr, wk.xw.data(), wk.valid.data(), wk.rhs.data());
    Mat<double>& nm = st.NormM;
    for (int r = 1; r <= nSp; ++r) {
        nm.At(r, 0) = wk.rhs[r - 1];
        for (int c = 1; c <= nSp; ++c) nm.At(r, c) = wk.g[(r - 1) * nSp + c - 1];
    }
    std::copy(nm.Data(), nm.Data() + ldm * ldm, wk.backup.begin());
}

/// Restores NormM from the backup and holds every species at P = 0 at zero,
/// except `keep`.
void ClampZeros(State& st, GoalWork& wk, int keep) {
    const int nSp = st.nSp;
    Mat<double>& nm = st.NormM;
    std::copy(wk.backup.begin(), wk.backup.end(), nm.Data());
    for (int k = 1; k <= nSp; ++k) {
        if (wk.p[k] != 0.0 || k == keep) continue;
        for (int i = 1; i <= nSp; ++i) {
            if (i == k) continue;
            nm.At(k, i) = 0.0;
            nm.At(i, k) = 0.0;
        }
        nm.At(k, 0) = 0.0;
    }
}

/// Sizes the working storage of the normal-mode fit.
void PrepareNormal(State& st, GoalWork& wk) {
    const int nSp = st.nSp;
    const size_t ld = static_cast<size_t>(st.nSol) + 1;
    const size_t ldm = static_cast<size_t>(nSp) + 1;
    EnsureDims(st.NormM, nSp, nSp);
    wk.backup.assign(ldm * ldm, 0.0);
    wk.p.assign(ldm, 0.0);
    wk.xw.assign(ld, 0.0);
    wk.valid.assign(ld, 0);
    wk.g.assign(static_cast<size_t>(nSp) * nSp, 0.0);
    wk.rhs.assign(static_cast<size_t>(nSp), 0.0);
}

/// Element (r, c) of the normal matrix as built, before any species was held.
double Backup(const GoalWork& wk, size_t ldm, int r, int c) {
    return wk.backup[static_cast<size_t>(c) * ldm + r];
}

/// After a failed solve: stops on the interrupt; otherwise offers to damp ten times
/// harder and rebuilds the normal equations. False after the failure exit.
bool DampHarder(State& st, const Mat<double>& a, GoalWork& wk) {
    if (st.ErrCode == kInterrupt) {
        FailureExit(st);
        return false;
    }
    // A zero diagonal stays zero however much it is damped: asking again would
    // repeat forever, so a Yes then ends like a No.
    const int nSp = st.nSp;
    const size_t ldm = static_cast<size_t>(nSp) + 1;
    bool damping = true;
    for (int k = 1; k <= nSp; ++k) damping = damping && Backup(wk, ldm, k, k) != 0.0;
    if (!st.ui->ask("Too high correlation. Reduce accuracy?  ") || !damping) {
        FailureExit(st);
        return false;
    }
    st.ErrCode = 0;
    st.Damping = 10.0 * st.Damping;
    BuildNormal(st, a, wk);
    return true;
}

/// When the candidate in NormM(., 0) has a negative part, steps P towards it as far
/// as non-negativity allows, dropping to zero what the step only just misses;
/// false (P untouched) when the candidate is feasible.
bool StepToBoundary(const State& st, GoalWork& wk) {
    const int nSp = st.nSp;
    const Mat<double>& nm = st.NormM;
    double f = 1.0;
    bool negative = false;
    for (int k = 1; k <= nSp; ++k) {
        const double e = nm.At(k, 0);
        if (e < 0.0) {
            negative = true;
            f = std::min(f, wk.p[k] / (wk.p[k] - e));
        }
    }
    if (!negative) return false;
    for (int k = 1; k <= nSp; ++k) {
        const double delta = (nm.At(k, 0) - wk.p[k]) * f;
        const double moved = wk.p[k] + delta;
        wk.p[k] = 1e-8 * std::fabs(delta) > std::fabs(moved) ? 0.0 : moved;
    }
    return true;
}

/// The held species (P = 0) whose gradient points most into the feasible side, or
/// 0 when none does; `last`, the one released just before, is not considered.
int SpeciesToRelease(const State& st, const GoalWork& wk, int last) {
    const int nSp = st.nSp;
    const size_t ldm = static_cast<size_t>(nSp) + 1;
    int t = 0;
    double best = 0.0;
    for (int k = 1; k <= nSp; ++k) {
        if (wk.p[k] != 0.0 || k == last) continue;
        double s = 0.0;
        double big = std::fabs(Backup(wk, ldm, k, 0));
        for (int i = 1; i <= nSp; ++i) {
            const double prod = Backup(wk, ldm, k, i) * wk.p[i];
            big = std::max(big, std::fabs(prod));
            s += prod;
            big = std::max(big, std::fabs(s));
        }
        s -= Backup(wk, ldm, k, 0);
        // A gradient small against its largest term is rounding: count it as zero.
        if (st.Damping * big > std::fabs(s)) s = 0.0;
        const double q = CheckedDiv(s, Backup(wk, ldm, k, k));
        if (q < best) {
            best = q;
            t = k;
        }
    }
    return t;
}

/// The active-set iteration at wavelength w by elimination, leaving the solution in
/// P. P starts at 1 on the first wavelength and from the previous wavelength's
/// solution on the others. False after the failure exit.
bool FitWavelength(State& st, const Mat<double>& a, GoalWork& wk, int w) {
    st.ui->yield();
    WeightedColumn(Problem(st, a, wk), w, wk.xw.data(), wk.valid.data());
    if (st.ErrCode != 0) {
        FailureExit(st);
        return false;
    }
    if (w == 1)
        std::fill(wk.p.begin() + 1, wk.p.end(), 1.0);
    else
        std::copy(wk.fit.Solution(w - 1), wk.fit.Solution(w - 1) + st.nSp, wk.p.begin() + 1);
    int released = 0;
    BuildNormal(st, a, wk);
    for (;;) {
        st.ui->yield();
        if (st.ErrCode != 0) {
            FailureExit(st);
            return false;
        }
        SolveSystem(st.ErrCode, st.nSp, st.NormM);
        if (st.ErrCode != 0) {
            if (!DampHarder(st, a, wk)) return false;
            continue;
        }
        if (StepToBoundary(st, wk)) {
            ClampZeros(st, wk, 0);
            continue;
        }
        for (int k = 1; k <= st.nSp; ++k) wk.p[k] = st.NormM.At(k, 0);
        const int t = SpeciesToRelease(st, wk, released);
        if (t == 0) return true;
        ClampZeros(st, wk, t);
        released = t;
    }
}

/// The threads to share the work among: one for sets too small to gain by more.
int Parts(const State& st) {
    const GoalTuning& t = GoalSettings();
    const long work = static_cast<long>(st.nSol) * st.nWl * st.nSp;
    if (work < t.parallelWork) return 1;
    if (t.threads > 0) return t.threads;
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

/// Wavelengths from..nWl from the shared normal equations, where they apply.
void FitFast(State& st, const Mat<double>& a, GoalWork& wk, int from) {
    if (GoalSettings().eliminationOnly)
        wk.fit.Skip(st.nSp, from, st.nWl);
    else
        wk.fit.Run(Problem(st, a, wk), from, st.nWl, Parts(st));
}

/// Extinction coefficients by non-negative least squares at every wavelength
/// (Lawson and Hanson's active-set method on damped normal equations): from the
/// shared normal equations where they apply, by elimination where not.
bool FitNormal(State& st, const Mat<double>& a, GoalWork& wk) {
    PrepareNormal(st, wk);
    st.ui->yield();
    if (st.ErrCode != 0) {
        FailureExit(st);
        return false;
    }
    FitFast(st, a, wk, 1);
    for (int w = 1; w <= st.nWl; ++w) {
        if (!wk.fit.Solved(w)) {
            const double damping = st.Damping;
            if (!FitWavelength(st, a, wk, w)) return false;
            std::copy(wk.p.begin() + 1, wk.p.end(), wk.fit.Solution(w));
            // A raised damping holds for the wavelengths after this one too.
            if (st.Damping != damping) FitFast(st, a, wk, w + 1);
        }
        const double* p = wk.fit.Solution(w);
        for (int k = 1; k <= st.nSp; ++k) {
            const double c = st.Conc.At(k, 0);
            const double e = p[k - 1] / c;
            st.Eps.At(k, w) = std::isfinite(e) ? e : CheckedDiv(p[k - 1], c);
        }
    }
    return true;
}

/// Looks up the species of every band, checking that the band table holds it.
void CollectBandSpecies(State& st, GoalWork& wk, int nG) {
    wk.bandSpecies.assign(static_cast<size_t>(nG) + 1, 0);
    for (int g = 1; g <= nG; ++g) {
        const int k = BandSpecies(st, g);
        if (k < 1 || k > st.nSp) throw RuntimeError(kSubscriptOutOfRange);
        wk.bandSpecies[g] = k;
        (void)st.GaussTab(3, g);
    }
}

/// The factor of each solution's squared residuals in the misfit: its weight over
/// its number of valid values, so that the bands are fitted to the very sum the goal
/// function reports; the abscissa of every wavelength.
void PrepareBands(State& st, const Mat<double>& a, GoalWork& wk) {
    wk.solFactor.assign(static_cast<size_t>(st.nSol) + 1, 0.0);
    for (int j = 1; j <= st.nSol; ++j) {
        int n = 0;
        for (int w = 1; w <= st.nWl; ++w) n += Valid(a.At(j, w));
        if (n > 0) wk.solFactor[j] = static_cast<double>(st.SolWeight(j)) / n;
    }
    wk.abscissa.assign(static_cast<size_t>(st.nWl) + 1, 0.0);
    for (int w = 1; w <= st.nWl; ++w) wk.abscissa[w] = GaussAbscissa(st, st.AbsM(0, w));
}

/// Concentration of the species of band g in solution j, before normalization.
double BandConc(const State& st, const GoalWork& wk, int g, int j) {
    const int k = wk.bandSpecies[g];
    return st.Conc.At(k, 0) * st.Conc.At(k, j);
}

/// The weighted sum of squared residuals of the bands as they are.
double BandMisfit(State& st, const Mat<double>& a, GoalWork& wk, int nG) {
    std::vector<double>& v = wk.bandValue;
    v.assign(static_cast<size_t>(nG) + 1, 0.0);
    double total = 0.0;
    for (int w = 1; w <= st.nWl; ++w) {
        for (int g = 1; g <= nG; ++g) v[g] = GaussBand(st, static_cast<int16_t>(g), wk.abscissa[w]);
        for (int j = 1; j <= st.nSol; ++j) {
            const double m = a.At(j, w);
            if (!Valid(m)) continue;
            double calc = 0.0;
            for (int g = 1; g <= nG; ++g) calc += BandConc(st, wk, g, j) * v[g];
            total += wk.solFactor[j] * (calc - m) * (calc - m);
        }
    }
    return CheckFinite(total);
}

/// Row 0 of the Jacobian at abscissa x: each band's derivatives by centre, width
/// and log height (the last is the band's value).
void BandDerivatives(State& st, Mat<double>& jac, int nG, double x) {
    const Mat<double>& tab = st.GaussTab;
    for (int g = 1; g <= nG; ++g) {
        const double v = GaussBand(st, static_cast<int16_t>(g), x);
        const double h = tab.At(2, g);
        const double u = (x - tab.At(1, g)) / h;
        jac.At(0, 3 * g) = v;
        jac.At(0, 3 * g - 2) = v * 8.0 * kLn2 * u / h;
        jac.At(0, 3 * g - 1) = jac.At(0, 3 * g - 2) * u;
    }
}

/// Rows 1..nSol at wavelength w: the derivatives of row 0 scaled by each solution's
/// concentration of the band's species, the residual in column 0, each row weighted
/// as the misfit weights it.
void SolutionRows(State& st, const Mat<double>& a, GoalWork& wk, int nG, int w) {
    Mat<double>& jac = wk.jac;
    const int np = 3 * nG;
    for (int j = 1; j <= st.nSol; ++j) {
        double residual = a.At(j, w);
        if (!Valid(residual)) {
            // A missing absorbance has nothing to fit.
            for (int b = 0; b <= np; ++b) jac.At(j, b) = 0.0;
            continue;
        }
        const double r = std::sqrt(wk.solFactor[j]);
        for (int g = 1; g <= nG; ++g) {
            const double q = r * BandConc(st, wk, g, j);
            for (int b = 3 * g - 2; b <= 3 * g; ++b) jac.At(j, b) = q * jac.At(0, b);
            residual -= BandConc(st, wk, g, j) * jac.At(0, 3 * g);
        }
        jac.At(j, 0) = r * residual;
    }
}

/// Adds this wavelength's J'J and J'r (column 0) to the lower triangle of nrm.
void AddCrossProducts(GoalWork& wk, int np, int nSol) {
    for (int a = 1; a <= np; ++a) {
        const double* ja = &wk.jac.At(0, a);
        for (int b = 0; b <= a; ++b) {
            const double* jb = &wk.jac.At(0, b);
            double s = 0.0;
            for (int j = 1; j <= nSol; ++j) s += ja[j] * jb[j];
            wk.nrm.At(a, b) += s;
        }
    }
}

/// The Gauss-Newton normal equations summed over the wavelengths, last to first
/// (the order fixes the rounding of the sums).
void AccumulateNormal(State& st, const Mat<double>& a, GoalWork& wk, int nG) {
    wk.nrm.Fill(0.0);
    for (int w = st.nWl; w >= 1; --w) {
        BandDerivatives(st, wk.jac, nG, wk.abscissa[w]);
        SolutionRows(st, a, wk, nG, w);
        AddCrossProducts(wk, 3 * nG, st.nSol);
    }
}

/// A fixed parameter gets a unit row and column and no right-hand side coupling,
/// so its step comes out zero.
void HoldFixed(const State& st, Mat<double>& nrm, int np) {
    for (int a = 1; a <= np; ++a) {
        if (a >= st.GaussFixed.Size() || st.GaussFixed(a) == 0) continue;
        for (int b = 0; b < a; ++b) nrm.At(a, b) = 0.0;
        nrm.At(a, a) = 1.0;
        for (int b = a + 1; b <= np; ++b) nrm.At(b, a) = 0.0;
    }
}

/// Damps the diagonal by the factor 1 + damping and mirrors the lower triangle into
/// the upper one.
void DampAndMirror(Mat<double>& nrm, int np, double damping) {
    for (int a = 1; a <= np; ++a) {
        nrm.At(a, a) = (1.0 + damping) * nrm.At(a, a);
        for (int b = 1; b < a; ++b) nrm.At(b, a) = nrm.At(a, b);
    }
}

/// The largest fraction (at most 1) of the step in nrm(., 0) that moves no centre
/// more than halfway to an end of the spectrum [lo, hi], shrinks no width by more
/// than half and changes no height by more than a factor e.
double StepFraction(const Mat<double>& tab, const Mat<double>& nrm, int nG, double lo, double hi) {
    double f = 1.0;
    for (int g = 1; g <= nG; ++g) {
        const double c = tab.At(1, g);
        const double h = tab.At(2, g);
        const double dc = nrm.At(3 * g - 2, 0);
        const double dh = nrm.At(3 * g - 1, 0);
        const double dl = nrm.At(3 * g, 0);
        if (dc > 0.0 && dc > (hi - c) / 2) f = std::min(f, ((hi - c) / 2) / dc);
        if (dc < 0.0 && dc < (lo - c) / 2) f = std::min(f, ((lo - c) / 2) / dc);
        if (dh + h / 2 < 0.0) f = std::min(f, (-h / 2) / dh);
        if (std::fabs(dl) > 1.0) f = std::min(f, 1.0 / std::fabs(dl));
    }
    return f;
}

/// Moves the bands by the fraction f of the step.
void ApplyStep(Mat<double>& tab, const Mat<double>& nrm, int nG, double f) {
    for (int g = 1; g <= nG; ++g)
        for (int i = 1; i <= 3; ++i) tab.At(i, g) += f * nrm.At(3 * (g - 1) + i, 0);
}

/// Eps as the sum of the bands of each species.
void EpsFromBands(State& st, const GoalWork& wk, int nG) {
    for (int w = 1; w <= st.nWl; ++w)
        for (int k = 1; k <= st.nSp; ++k) st.Eps.At(k, w) = 0.0;
    for (int w = 1; w <= st.nWl; ++w)
        for (int g = 1; g <= nG; ++g)
            st.Eps.At(wk.bandSpecies[g], w) +=
                GaussBand(st, static_cast<int16_t>(g), wk.abscissa[w]);
}

/// Gauss-Newton steps on the bands that gain less than this part of the misfit leave
/// it as it is to well below what the optimizer resolves.
constexpr double kBandGain = 1e-12;
/// Bands that need more steps than this in one evaluation go on from there at the next.
constexpr int kBandSteps = 200;
/// Damping at which a step can no longer lower the misfit: the bands are at its minimum.
constexpr double kBandDampingLimit = 1e8;

enum class BandStep { Taken, AtMinimum, Failed };

BandStep RefineFailure(State& st) {
    st.Message("Cannot refine Gaussians. Try another set  ", Icon::Critical);
    st.ErrCode = -1;
    return BandStep::Failed;
}

/// One step that lowers the misfit, its damping raised tenfold while it does not; each
/// step limited so that centres stay inside the spectrum, widths positive and heights
/// within a factor e. `fraction` is the part of the damped step taken.
BandStep DescentStep(State& st, const Mat<double>& a, GoalWork& wk, int nG, double& misfit,
                     double& damping, double& fraction) {
    const int np = 3 * nG;
    double lo = 0.0, hi = 0.0;
    GaussAbscissaRange(st, lo, hi);
    for (;;) {
        wk.step = wk.nrm;
        DampAndMirror(wk.step, np, damping);
        SolveSystem(st.ErrCode, static_cast<int16_t>(np), wk.step);
        if (st.ErrCode == kInterrupt) return BandStep::Failed;
        if (st.ErrCode != 0) return RefineFailure(st);
        fraction = StepFraction(st.GaussTab, wk.step, nG, lo, hi);
        // A centre pinned to the end of the spectrum: no parameter can move.
        if (fraction == 0.0) return RefineFailure(st);
        wk.bandsBefore = st.GaussTab;
        ApplyStep(st.GaussTab, wk.step, nG, fraction);
        const double trial = BandMisfit(st, a, wk, nG);
        if (trial <= misfit) {
            misfit = trial;
            return BandStep::Taken;
        }
        // A full Gauss-Newton step can overshoot far: the bands would jump from one
        // evaluation to the next and the goal function would not be a function of G0.
        st.GaussTab = wk.bandsBefore;
        damping *= 10.0;
        if (damping > kBandDampingLimit) return BandStep::AtMinimum;
    }
}

/// Fits the Gaussian bands to the data at the present concentrations by damped
/// Gauss-Newton steps that never raise the misfit, until a step of at least
/// GaussLimit of its length gains next to nothing.
bool FitGaussian(State& st, const Mat<double>& a, GoalWork& wk) {
    const int nG = BandCount(st);
    const int np = 3 * nG;
    CollectBandSpecies(st, wk, nG);
    PrepareBands(st, a, wk);
    EnsureDims(wk.jac, st.nSol, np);
    EnsureDims(wk.nrm, np, np);
    double misfit = BandMisfit(st, a, wk, nG);
    double damping = st.Damping;
    for (int i = 0; i < kBandSteps; ++i) {
        st.ui->yield();
        if (st.ErrCode == kInterrupt) return false;
        AccumulateNormal(st, a, wk, nG);
        HoldFixed(st, wk.nrm, np);
        const double before = misfit;
        double fraction = 0.0;
        const BandStep step = DescentStep(st, a, wk, nG, misfit, damping, fraction);
        if (step == BandStep::Failed) return false;
        if (step == BandStep::AtMinimum) break;
        if (fraction >= st.GaussLimit && before - misfit <= kBandGain * before) break;
        damping = std::max(damping / 10.0, st.Damping);
    }
    EpsFromBands(st, wk, nG);
    return true;
}

/// Solutions past the last that concT and calc hold, so that the calculated
/// absorbances go four solutions at a time.
constexpr int kSolutionPad = 3;

/// The calculated absorbances of all solutions at the scaled extinction coefficients
/// e (species from 1), four solutions at a time with their sums in registers; each
/// sum runs over the species in order, as it always has.
void CalculatedColumn(const double* e, int nSp, const double* concT, size_t ld, int nSol,
                      double* calc) {
    for (int j = 1; j <= nSol; j += 4) {
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        for (int k = 1; k <= nSp; ++k) {
            const double ek = e[k];
            const double* c = &concT[k * ld + j];
            s0 += ek * c[0];
            s1 += ek * c[1];
            s2 += ek * c[2];
            s3 += ek * c[3];
        }
        calc[j] = s0;
        calc[j + 1] = s1;
        calc[j + 2] = s2;
        calc[j + 3] = s3;
    }
}

/// AbsC at every wavelength, and each solution's squared residuals summed over the
/// wavelengths in order.
void Residuals(State& st, const Mat<double>& a, GoalWork& wk) {
    const size_t ldk = static_cast<size_t>(st.nSp) + 1;
    const size_t ld = static_cast<size_t>(st.nSol) + 1 + kSolutionPad;
    double* calc = wk.calc.data();
    double* sq = wk.sq.data();
    int* count = wk.count.data();
    int* overflow = wk.overflow.data();
    for (int w = 1; w <= st.nWl; ++w) {
        CalculatedColumn(&wk.epsScaled[w * ldk], st.nSp, wk.concT.data(), ld, st.nSol, calc);
        float* absC = &st.AbsC.At(0, w);
        const double* m = &a.At(0, w);
        for (int j = 1; j <= st.nSol; ++j) {
            const double v = calc[j];
            overflow[j] |= !(std::fabs(v) <= static_cast<double>(FLT_MAX));
            absC[j] = static_cast<float>(v);
            if (Valid(m[j])) {
                sq[j] += (v - m[j]) * (v - m[j]);
                ++count[j];
            }
        }
    }
}

/// AbsC from Eps and Conc; the weighted sum of the solutions' mean squares.
double Misfit(State& st, const Mat<double>& a, GoalWork& wk) {
    const int nSp = st.nSp;
    const int nSol = st.nSol;
    const size_t ldk = static_cast<size_t>(nSp) + 1;
    const size_t ld = static_cast<size_t>(nSol) + 1;
    const size_t ldc = ld + kSolutionPad;
    wk.epsScaled.assign(ldk * (static_cast<size_t>(st.nWl) + 1), 0.0);
    for (int w = 1; w <= st.nWl; ++w)
        for (int k = 1; k <= nSp; ++k)
            wk.epsScaled[w * ldk + k] = st.Eps.At(k, w) * st.Conc.At(k, 0);
    wk.concT.assign(ldk * ldc, 0.0);
    for (int j = 1; j <= nSol; ++j)
        for (int k = 1; k <= nSp; ++k) wk.concT[k * ldc + j] = st.Conc.At(k, j);
    wk.calc.assign(ldc, 0.0);
    wk.sq.assign(ld, 0.0);
    wk.count.assign(ld, 0);
    wk.overflow.assign(ld, 0);
    Residuals(st, a, wk);
    double total = 0.0;
    for (int j = 1; j <= nSol; ++j) {
        if (wk.overflow[j]) throw RuntimeError(kOverflow);
        const double ms = CheckedDiv(wk.sq[j], wk.count[j]);
        st.AbsC.At(j, 0) = CSng(std::sqrt(ms));
        total += static_cast<double>(st.SolWeight(j)) * ms;
    }
    return total;
}

double Evaluate(State& st) {
    GoalWork& wk = Work();
    EnsureDims(st.Conc, st.nSp, st.nSol);
    EnsureDims(st.Eps, st.nSp, st.nWl);
    EnsureDims(st.AbsC, st.nSol, st.nWl);
    (void)st.AbsM(st.nSol, st.nWl); // the data must cover every solution and wavelength

    if (!Speciate(st)) return 0.0;
    Normalize(st);
    const Mat<double>& a = st.nFactors > 0 ? ReconstructFactors(st, wk) : st.AbsM;
    Weight(st, wk);
    const bool gauss = st.FitMode == 1;
    if (!(gauss ? FitGaussian(st, a, wk) : FitNormal(st, a, wk))) return 0.0;
    const double total = Misfit(st, a, wk);
    return CheckedDiv(total, GoalDegreesOfFreedom(st));
}

} // namespace

double GoalDegreesOfFreedom(const State& st) {
    if (st.FitMode == 1) return st.nSol - CheckedDiv(3.0 * BandCount(st), st.nWl);
    return static_cast<double>(st.nSol - st.nSp);
}

GoalTuning& GoalSettings() {
    static GoalTuning tuning;
    return tuning;
}

double Goal(State& st, int16_t probe) {
    ++st.GoalCalls;
    const bool restoreBands = probe != 0 && st.FitMode == 1;
    if (restoreBands) st.GaussSave = st.GaussTab;
    st.ErrCode = 0;
    double result = 0.0;
    try {
        result = Evaluate(st);
    } catch (const RuntimeError& e) {
        st.Message("Cannot calculate goal function: " + e.Description(), Icon::Critical);
        st.ErrCode = -1;
    } catch (const std::bad_alloc&) {
        st.Message("Cannot calculate goal function: Out of memory", Icon::Critical);
        st.ErrCode = -1;
    } catch (const std::exception& e) {
        st.Message(std::string("Cannot calculate goal function: ") + e.what(), Icon::Critical);
        st.ErrCode = -1;
    }
    if (st.ErrCode != 0) result = 0.0;
    if (restoreBands) {
        st.GaussTab = st.GaussSave;
        const int16_t code = st.ErrCode;
        EvaluateGaussians(st);
        st.ErrCode = code;
    }
    return result;
}

} // namespace lumora
