#include "fit/MarquardtSteps.h"

#include "base/RuntimeError.h"
#include "fit/CallGoal.h"
#include "fit/GoalResiduals.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

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

} // namespace

MarquardtSteps::MarquardtSteps(State& st, std::vector<int> species, bool fitBands)
    : st_(st), free_(std::move(species)), fitBands_(fitBands), mu_(kFirstDamping) {}

void MarquardtSteps::Start(double f) {
    best_.clear();
    for (const int i : free_) best_.push_back(st_.G0(i) = AsSeen(st_.G0(i)));
    f_ = f;
    TakeBest();
}

bool MarquardtSteps::Evaluate(int16_t probe, double& f) {
    f = CallGoal(st_, probe);
    return st_.ErrCode == 0;
}

void MarquardtSteps::TakeBest() {
    GoalResiduals(st_, r_);
    if (ProjectedJacobian::Applies(st_)) projection_.At(st_);
}

bool MarquardtSteps::Jacobian() {
    const size_t m = r_.size();
    jac_.assign(m * free_.size(), 0.0);
    const bool projected = ProjectedJacobian::Applies(st_);
    for (size_t k = 0; k < free_.size(); ++k) {
        if (projected ? !ProjectedColumn(k) : !ResidualColumn(k)) return false;
        if (column_.size() != m) throw RuntimeError(kSubscriptOutOfRange);
        std::copy(column_.begin(), column_.end(), jac_.begin() + k * m);
    }
    normal_.Build(jac_, r_, static_cast<int>(free_.size()));
    return true;
}

bool MarquardtSteps::AnyMoves() const {
    return normal_.AnyMoves();
}

/// From the concentrations one forward step away.
bool MarquardtSteps::ProjectedColumn(size_t k) {
    const int i = free_[k];
    const double h = ProbeStep(i, kProjectedStep, 1.0);
    if (!EvaluateAt(i, best_[k] + h)) return false;
    projection_.Column(st_, h, column_);
    return true;
}

/// Central differences of the residuals.
bool MarquardtSteps::ResidualColumn(size_t k) {
    const int i = free_[k];
    const double up = ProbeStep(i, kResidualStep, 1.0);
    const double down = ProbeStep(i, kResidualStep, -1.0);
    if (!EvaluateAt(i, best_[k] + up)) return false;
    GoalResiduals(st_, column_);
    if (!EvaluateAt(i, best_[k] - down)) return false;
    GoalResiduals(st_, lower_);
    if (lower_.size() != column_.size()) throw RuntimeError(kSubscriptOutOfRange);
    for (size_t p = 0; p < column_.size(); ++p) column_[p] = (column_[p] - lower_[p]) / (up + down);
    return true;
}

/// A probe evaluation with species i at g, the others at the best point.
bool MarquardtSteps::EvaluateAt(int i, double g) {
    const double x = st_.G0(i);
    st_.G0(i) = g;
    double f = 0.0;
    const bool ok = Evaluate(-1, f);
    st_.G0(i) = x;
    return ok;
}

/// step x GScale in the direction `sign`, at least a few single-precision places of
/// G0(i), as the goal function will see it from there (a positive length).
double MarquardtSteps::ProbeStep(int i, double step, double sign) const {
    const float xf = CSng(st_.G0(i));
    const double ulp =
        static_cast<double>(std::nextafter(xf, std::numeric_limits<float>::infinity()) - xf);
    const double h =
        std::max(std::fabs(static_cast<double>(st_.GScale(i))) * step, kLeastStepUlps * ulp);
    return std::fabs(AsSeen(st_.G0(i) + sign * h) - st_.G0(i));
}

double MarquardtSteps::ExpectedGain() {
    if (!normal_.Solve(kGaussNewtonDamping, step_)) return std::numeric_limits<double>::infinity();
    return normal_.Predicted(step_);
}

MarquardtSteps::Outcome MarquardtSteps::Descend() {
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

/// G0 at the best point plus d, shortened to the longest step and rounded as the goal
/// function sees it; d becomes the step taken. False when nothing moves.
bool MarquardtSteps::MoveBy(std::vector<double>& d) {
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

/// The new best point. The damping falls as far as the linear model foretold the gain
/// well (Nielsen's rule). With fitBands the Gaussian mode fits its bands at the new point
/// and keeps them. False when that evaluation failed.
bool MarquardtSteps::Accept(double f, double predicted) {
    const double rho = predicted > 0.0 ? (f_ - f) / predicted : 0.0;
    // Kept above zero, so that rejections can raise it again.
    mu_ = std::max(mu_ * std::max(1.0 / 3.0, 1.0 - std::pow(2.0 * rho - 1.0, 3)),
                   kGaussNewtonDamping);
    nu_ = 2.0;
    for (size_t k = 0; k < free_.size(); ++k) best_[k] = st_.G0(free_[k]);
    if (onAccept) onAccept();
    if (fitBands_ && st_.FitMode == 1 && !Evaluate(0, f)) return false;
    f_ = f;
    TakeBest();
    return true;
}

void MarquardtSteps::Reject() {
    mu_ *= nu_;
    nu_ *= 2.0;
}

MarquardtSteps::Outcome MarquardtSteps::BackToBest(Outcome outcome) {
    for (size_t k = 0; k < free_.size(); ++k) st_.G0(free_[k]) = best_[k];
    return outcome;
}

bool MarquardtSteps::EvaluateAtBest(int16_t probe) {
    double f = 0.0;
    if (!Evaluate(probe, f)) return false;
    if (probe == 0) {
        f_ = f;
        TakeBest();
    }
    return true;
}

void MarquardtSteps::ResetDamping() {
    mu_ = kFirstDamping, nu_ = 2.0;
}

} // namespace lumora
