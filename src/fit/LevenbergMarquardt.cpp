#include "fit/LevenbergMarquardt.h"

#include "base/RuntimeError.h"
#include "fit/CallGoal.h"
#include "fit/GoalResiduals.h"
#include "fit/OptimizeRun.h"
#include "fit/ProjectedJacobian.h"
#include "linalg/Cholesky.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace lumora {

namespace {

/// Forward-difference step of the concentrations, times GScale: they are smooth
/// functions of the Gibbs energies, so a short step is accurate.
constexpr double kProjectedStep = 1e-3;
/// Central-difference step of the residuals where the projection does not apply (the
/// Gaussian mode), times GScale: the descent method's probe step.
constexpr double kResidualStep = 1e-2;
/// The least difference step, in units of the last place of the Gibbs energy as the
/// goal function sees it (single precision): a shorter one would be all rounding.
constexpr double kLeastStepUlps = 16.0;
/// Damping of the first step, relative to the diagonal of the normal matrix.
constexpr double kFirstDamping = 1e-3;
/// Damping that makes the normal equations a plain Gauss-Newton step yet keeps them
/// solvable when two species are all but interchangeable.
constexpr double kGaussNewtonDamping = 1e-12;
/// The longest step of one species, in units of its GScale: far beyond it the linear
/// model means nothing and the speciation may fail.
constexpr double kLongestStep = 10.0;

/// A Gibbs energy as the goal function sees it.
double AsSeen(double g) {
    return static_cast<double>(CSng(g));
}

/// The normal equations J'J d = -J'r of the free species, solved with Marquardt's
/// damping of the diagonal. Species that do not move the error keep a zero step.
class NormalEquations {
public:
    /// From the Jacobian (column after column, one per free species) and the residuals.
    void Build(const std::vector<double>& jac, const std::vector<double>& r, int n) {
        n_ = n;
        const size_t m = r.size();
        a_.assign(static_cast<size_t>(n) * n, 0.0);
        g_.assign(static_cast<size_t>(n), 0.0);
        for (int k = 0; k < n; ++k) {
            const double* ck = &jac[k * m];
            double g = 0.0;
            for (size_t i = 0; i < m; ++i) g += ck[i] * r[i];
            g_[k] = CheckFinite(g);
            for (int l = 0; l <= k; ++l) {
                const double* cl = &jac[l * m];
                double s = 0.0;
                for (size_t i = 0; i < m; ++i) s += ck[i] * cl[i];
                a_[k * n + l] = a_[l * n + k] = CheckFinite(s);
            }
        }
        moving_.clear();
        for (int k = 0; k < n; ++k)
            if (A(k, k) > 0.0) moving_.push_back(k);
    }

    /// Whether any free species moves the error.
    bool AnyMoves() const { return !moving_.empty(); }

    /// (J'J + mu diag(J'J)) d = -J'r by Cholesky on the unit-diagonal scaling; false when
    /// that matrix is not positive definite in working precision.
    bool Solve(double mu, std::vector<double>& d) const {
        const int m = static_cast<int>(moving_.size());
        std::vector<double> s(m), l(static_cast<size_t>(m) * m), y(m);
        for (int p = 0; p < m; ++p) s[p] = std::sqrt(A(moving_[p], moving_[p]));
        for (int p = 0; p < m; ++p)
            for (int q = 0; q <= p; ++q)
                l[p * m + q] = A(moving_[p], moving_[q]) / (s[p] * s[q]) + (p == q ? mu : 0.0);
        if (!Cholesky(l.data(), m)) return false;
        for (int p = 0; p < m; ++p) y[p] = -g_[moving_[p]] / s[p];
        CholeskySolve(l.data(), m, y.data());
        d.assign(static_cast<size_t>(n_), 0.0);
        for (int p = 0; p < m; ++p) d[moving_[p]] = y[p] / s[p];
        return true;
    }

    /// The gain the linear model foretells for the step d: |r|^2 - |r + J d|^2.
    double Predicted(const std::vector<double>& d) const {
        double gain = 0.0;
        for (int k = 0; k < n_; ++k) {
            double ad = 0.0;
            for (int l = 0; l < n_; ++l) ad += A(k, l) * d[l];
            gain -= d[k] * (2.0 * g_[k] + ad);
        }
        return gain;
    }

private:
    double A(int k, int l) const { return a_[k * n_ + l]; }

    int n_ = 0;
    std::vector<double> a_; ///< J'J, n x n
    std::vector<double> g_; ///< J'r
    std::vector<int> moving_;
};

class Marquardt : public OptimizeRun {
public:
    using OptimizeRun::OptimizeRun;

private:
    enum class Outcome { Lowered, Unresolved, Stopped };

    OptimizeEnd Iterate() override {
        CollectFree();
        f_ = st_.RmsErr * st_.RmsErr;
        TakeBest();
        for (;;) {
            ui_.yield();
            if (st_.ErrCode != 0) return OptimizeEnd::Stopped; // Esc between two iterations
            if (!Jacobian()) return OptimizeEnd::Stopped;
            normal_.Build(jac_, r_, static_cast<int>(free_.size()));
            if (!normal_.AnyMoves()) return OptimizeEnd::NothingToOptimize;
            if (ExpectedGain() > st_.RelTol * f_) {
                const Outcome outcome = Descend();
                if (outcome == Outcome::Stopped) return OptimizeEnd::Stopped;
                if (outcome == Outcome::Lowered) {
                    if (!Report()) return OptimizeEnd::Stopped;
                    continue;
                }
            }
            // At the minimum as far as the goal function resolves it.
            const bool converged = ConvergedAtAccuracy();
            if (!EvaluateAtBest(converged ? -1 : 0)) return OptimizeEnd::Stopped;
            if (converged) return OptimizeEnd::Converged;
            mu_ = kFirstDamping, nu_ = 2.0; // the bands' finer fit is a new problem
        }
    }

    void CollectFree() {
        free_.clear();
        best_.clear();
        for (int i = 1; i <= st_.nSp; ++i) {
            if (!st_.SpFree(i)) continue;
            free_.push_back(i);
            best_.push_back(st_.G0(i) = AsSeen(st_.G0(i)));
        }
    }

    /// The goal value at G0; false when the goal function failed or Esc was pressed.
    bool Evaluate(int16_t probe, double& f) {
        f = CallGoal(st_, probe);
        return st_.ErrCode == 0;
    }

    /// The residuals at the best point, and what the Jacobian needs of its evaluation.
    void TakeBest() {
        GoalResiduals(st_, r_);
        if (ProjectedJacobian::Applies(st_)) projection_.At(st_);
    }

    /// One column per free species; G0 is left at the best point.
    bool Jacobian() {
        const size_t m = r_.size();
        jac_.assign(m * free_.size(), 0.0);
        const bool projected = ProjectedJacobian::Applies(st_);
        for (size_t k = 0; k < free_.size(); ++k) {
            if (projected ? !ProjectedColumn(k) : !ResidualColumn(k)) return false;
            if (column_.size() != m) throw RuntimeError(kSubscriptOutOfRange);
            std::copy(column_.begin(), column_.end(), jac_.begin() + k * m);
        }
        return true;
    }

    /// From the concentrations one forward step away.
    bool ProjectedColumn(size_t k) {
        const int i = free_[k];
        const double h = ProbeStep(i, kProjectedStep, 1.0);
        if (!EvaluateAt(i, best_[k] + h)) return false;
        projection_.Column(st_, h, column_);
        return true;
    }

    /// Central differences of the residuals.
    bool ResidualColumn(size_t k) {
        const int i = free_[k];
        const double up = ProbeStep(i, kResidualStep, 1.0);
        const double down = ProbeStep(i, kResidualStep, -1.0);
        if (!EvaluateAt(i, best_[k] + up)) return false;
        GoalResiduals(st_, column_);
        if (!EvaluateAt(i, best_[k] - down)) return false;
        GoalResiduals(st_, lower_);
        if (lower_.size() != column_.size()) throw RuntimeError(kSubscriptOutOfRange);
        for (size_t p = 0; p < column_.size(); ++p)
            column_[p] = (column_[p] - lower_[p]) / (up + down);
        return true;
    }

    /// A probe evaluation with species i at g, the others at the best point.
    bool EvaluateAt(int i, double g) {
        const double x = st_.G0(i);
        st_.G0(i) = g;
        double f = 0.0;
        const bool ok = Evaluate(-1, f);
        st_.G0(i) = x;
        return ok;
    }

    /// step x GScale in the direction `sign`, at least a few single-precision places of
    /// G0(i), as the goal function will see it from there (a positive length).
    double ProbeStep(int i, double step, double sign) const {
        const float xf = CSng(st_.G0(i));
        const double ulp =
            static_cast<double>(std::nextafter(xf, std::numeric_limits<float>::infinity()) - xf);
        const double h =
            std::max(std::fabs(static_cast<double>(st_.GScale(i))) * step, kLeastStepUlps * ulp);
        return std::fabs(AsSeen(st_.G0(i) + sign * h) - st_.G0(i));
    }

    /// What a full Gauss-Newton step would gain by the linear model; infinite when the
    /// normal equations cannot tell.
    double ExpectedGain() {
        if (!normal_.Solve(kGaussNewtonDamping, step_))
            return std::numeric_limits<double>::infinity();
        return normal_.Predicted(step_);
    }

    /// Damped steps from the best point, the damping raised after every step that does
    /// not lower the error, until one does or none can be resolved any more.
    Outcome Descend() {
        for (;;) {
            if (!std::isfinite(mu_)) return BackToBest(Outcome::Unresolved);
            if (!normal_.Solve(mu_, step_)) {
                Reject();
                continue;
            }
            if (!MoveBy(step_)) return BackToBest(Outcome::Unresolved);
            const double predicted = normal_.Predicted(step_);
            double f = 0.0;
            // In the Gaussian mode the bands stay as they are until the step is taken.
            if (!Evaluate(st_.FitMode == 1 ? -1 : 0, f)) return BackToBest(Outcome::Stopped);
            if (f < f_) return Accept(f, predicted) ? Outcome::Lowered : Outcome::Stopped;
            Reject();
        }
    }

    /// G0 at the best point plus d, shortened to the longest step and rounded as the
    /// goal function sees it; d becomes the step taken. False when nothing moves.
    bool MoveBy(std::vector<double>& d) {
        double longest = 0.0;
        for (size_t k = 0; k < free_.size(); ++k)
            longest = std::max(longest, std::fabs(d[k] / st_.GScale(free_[k])));
        const double f = longest > kLongestStep ? kLongestStep / longest : 1.0;
        bool moved = false;
        for (size_t k = 0; k < free_.size(); ++k) {
            const double x = AsSeen(CheckFinite(best_[k] + f * d[k]));
            st_.G0(free_[k]) = x;
            d[k] = x - best_[k];
            moved = moved || d[k] != 0.0;
        }
        return moved;
    }

    /// The new best point. The damping falls as far as the linear model foretold the
    /// gain well (Nielsen's rule). In the Gaussian mode the bands are fitted at the new
    /// point and kept. False when that evaluation failed.
    bool Accept(double f, double predicted) {
        const double rho = predicted > 0.0 ? (f_ - f) / predicted : 0.0;
        // Kept above zero, so that rejections can raise it again.
        mu_ = std::max(mu_ * std::max(1.0 / 3.0, 1.0 - std::pow(2.0 * rho - 1.0, 3)),
                       kGaussNewtonDamping);
        nu_ = 2.0;
        for (size_t k = 0; k < free_.size(); ++k) {
            best_[k] = st_.G0(free_[k]);
            st_.G0Res(free_[k]) = CSng(best_[k]);
        }
        if (st_.FitMode == 1 && !Evaluate(0, f)) return false;
        f_ = f;
        st_.RmsErr = CheckedSqrt(f_);
        TakeBest();
        return true;
    }

    void Reject() {
        mu_ *= nu_;
        nu_ *= 2.0;
    }

    Outcome BackToBest(Outcome outcome) {
        for (size_t k = 0; k < free_.size(); ++k) st_.G0(free_[k]) = best_[k];
        return outcome;
    }

    /// Once more at the best point, so that the model state belongs to it; probe 0 fits
    /// the bands of the Gaussian mode anew (at a raised accuracy).
    bool EvaluateAtBest(int16_t probe) {
        double f = 0.0;
        if (!Evaluate(probe, f)) return false;
        if (probe == 0) {
            f_ = f;
            st_.RmsErr = CheckedSqrt(f_);
            TakeBest();
        }
        return true;
    }

    std::vector<int> free_;    ///< species numbers of the free species
    std::vector<double> best_; ///< G0 of the free species at the best point
    double f_ = 0.0;           ///< goal value at the best point
    std::vector<double> r_;    ///< residuals at the best point
    std::vector<double> jac_;  ///< d r / d G0, column after column
    std::vector<double> column_, lower_;
    std::vector<double> step_; ///< step of the free species
    NormalEquations normal_;
    ProjectedJacobian projection_;
    double mu_ = kFirstDamping;
    double nu_ = 2.0;
};

} // namespace

OptimizeResult LevenbergMarquardt(State& st, const OptimizeOptions& options) {
    return Marquardt(st, options).Run();
}

} // namespace lumora
