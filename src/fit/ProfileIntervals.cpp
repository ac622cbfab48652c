#include "fit/ProfileIntervals.h"

#include "base/RuntimeError.h"
#include "fit/CallGoal.h"
#include "fit/GoalResiduals.h"
#include "fit/IntervalDiagnostics.h"
#include "fit/IntervalPhase.h"
#include "fit/MarquardtSteps.h"
#include "fit/ProfileBound.h"
#include "linalg/Cholesky.h"
#include "linalg/FQuantile.h"
#include "model/GaussBand.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace lumora {

namespace {

/// A species whose profile stays below the threshold this far from the optimum (kJ/mol)
/// is not determined by the data.
constexpr double kLimit = 50.0;
/// The inner minimisation ends when a full step promises less than this share of the
/// threshold's rise above the optimum: far below what moves a bound.
constexpr double kInnerTolerance = 1e-3;
constexpr int kInnerSteps = 30;
/// First offset where the curvature at the optimum does not tell one (kJ/mol).
constexpr double kBlindStep = 1.0;

double AsSeen(double g) {
    return static_cast<double>(CSng(g));
}

/// How the others follow species k along its profile in the quadratic model of the
/// error with curvature a: slope = -A_oo^-1 A_ok (in the order of the others), and the
/// curvature left along the profile, A_kk + A_ko slope. Zero curvature and slope when the
/// others alone are singular.
struct Response {
    double curvature = 0.0;
    std::vector<double> slope;
};

Response ProfileResponse(const Mat<double>& a, int n, int k) {
    std::vector<int> o;
    for (int l = 1; l <= n; ++l)
        if (l != k) o.push_back(l);
    const int m = static_cast<int>(o.size());
    Response r;
    r.slope.assign(static_cast<size_t>(m), 0.0);
    std::vector<double> l(static_cast<size_t>(m) * m);
    for (int p = 0; p < m; ++p)
        for (int q = 0; q < m; ++q) l[p * m + q] = a(o[p], o[q]);
    if (m > 0 && !Cholesky(l.data(), m)) return r;
    for (int p = 0; p < m; ++p) r.slope[p] = -a(o[p], k);
    if (m > 0) CholeskySolve(l.data(), m, r.slope.data());
    r.curvature = a(k, k);
    for (int p = 0; p < m; ++p) r.curvature += a(k, o[p]) * r.slope[p];
    return r;
}

class Profiler {
public:
    Profiler(State& st, bool& moved) : st_(st), moved_(moved) {}

    bool Run() {
        st_.ui->progress(-1.0);
        st_.ui->yield();
        if (st_.ErrCode != 0) return false;
        free_ = FreeSpecies(st_);
        n_ = static_cast<int>(free_.size());
        st_.nFree = static_cast<int16_t>(n_);
        st_.GaussLimit = 0.99995;
        if (!AtOptimum()) return false;
        st_.GLo.Redim(st_.nSp), st_.GHi.Redim(st_.nSp);
        st_.GErr.Fill(0.0f);
        std::vector<std::string> undetermined;
        for (int k = 1; k <= n_; ++k) {
            const int i = free_[k - 1];
            if (!Side(k, -1.0, st_.GLo(i)) || !Side(k, 1.0, st_.GHi(i))) return false;
            if (st_.GLo(i) && st_.GHi(i))
                st_.GErr(i) = CSng(std::max(*st_.GHi(i) - optimum_(i), optimum_(i) - *st_.GLo(i)));
            else
                undetermined.push_back(st_.SpName(i));
        }
        Note(undetermined);
        return true;
    }

private:
    /// The error at the optimum, its threshold, the curvature and the correlation.
    bool AtOptimum() {
        e0_ = CallGoal(st_, 0);
        if (st_.ErrCode != 0) {
            moved_ = st_.ErrCode == kInterrupt; // as the Hessian's phase
            return false;
        }
        st_.RmsErr = e0_;
        const double linear = st_.FitMode == 1 ? 3.0 * BandCount(st_) : double(st_.nWl) * st_.nSp;
        const double dof = ValidAbsorbances(st_) - linear - n_;
        if (!(dof > 0.0)) throw RuntimeError(kDivisionByZero);
        threshold_ = e0_ * (1.0 + FQuantile(0.95, 1.0, dof) / dof);
        optimum_ = st_.G0;
        moved_ = true;
        if (!GaussNewtonMatrix(st_, free_, a_)) return false;
        SetCorrelation(st_, a_, n_);
        return true;
    }

    /// One end of the interval of free species k (1..n): the bound, or nothing when the
    /// profile stays below the threshold. False when the goal function failed or Esc was
    /// pressed.
    bool Side(int k, double sign, std::optional<double>& bound) {
        st_.ui->progress((2.0 * (k - 1) + (sign > 0.0)) / (2.0 * n_));
        st_.ui->yield();
        if (st_.ErrCode != 0) return false;
        const int i = free_[k - 1];
        const Response response = ProfileResponse(a_, n_, k);
        std::vector<int> others;
        for (const int s : free_)
            if (s != i) others.push_back(s);
        // Warm start: the others where the last profile point left them, moved on by
        // their response to the step.
        st_.G0 = optimum_;
        std::vector<double> start(others.size());
        for (size_t p = 0; p < others.size(); ++p) start[p] = optimum_(others[p]);
        double last = 0.0;
        const auto z = [&](double d, double& value) {
            st_.G0(i) = AsSeen(optimum_(i) + sign * d);
            for (size_t p = 0; p < others.size(); ++p)
                st_.G0(others[p]) = start[p] + response.slope[p] * sign * (d - last);
            double e = 0.0;
            if (!Minimise(others, e, start)) return false;
            last = d;
            value = std::sqrt(std::max(0.0, e - e0_) / (threshold_ - e0_));
            return true;
        };
        ProfileBoundOptions options;
        options.limit = kLimit;
        if (response.curvature > 0.0)
            options.firstStep = std::sqrt((threshold_ - e0_) / response.curvature);
        else
            options.firstStep = kBlindStep;
        const ProfileBound b = FindProfileBound(z, options);
        if (b.end == BoundEnd::Stopped) return false;
        bound.reset();
        if (b.end == BoundEnd::Found) bound = AsSeen(optimum_(i) + sign * b.offset);
        return true;
    }

    /// The least error over the others from where G0 holds them; `at` gets where.
    bool Minimise(const std::vector<int>& others, double& e, std::vector<double>& at) {
        e = CallGoal(st_, -1);
        if (st_.ErrCode != 0) return false;
        if (others.empty()) return true;
        MarquardtSteps steps(st_, others, false);
        steps.Start(e);
        for (int step = 0; step < kInnerSteps; ++step) {
            if (!steps.Jacobian()) return false;
            if (!steps.AnyMoves()) break;
            if (steps.ExpectedGain() <= kInnerTolerance * (threshold_ - e0_)) break;
            const MarquardtSteps::Outcome outcome = steps.Descend();
            if (outcome == MarquardtSteps::Outcome::Stopped) return false;
            if (outcome == MarquardtSteps::Outcome::Unresolved) break;
        }
        e = steps.Value();
        at = steps.Best();
        return true;
    }

    void Note(const std::vector<std::string>& undetermined) {
        if (!undetermined.empty())
            st_.IntervalNote = NameList(undetermined) +
                               (undetermined.size() == 1 ? " is" : " are") +
                               " not determined by these data: the error stays below its 95 % "
                               "threshold within 50 kJ/mol of the result";
    }

    State& st_;
    bool& moved_;
    std::vector<int> free_;
    int n_ = 0;
    double e0_ = 0.0, threshold_ = 0.0;
    Vec<double> optimum_;
    Mat<double> a_; ///< J'J of the free species at the optimum
};

} // namespace

bool ProfileIntervals(State& st) {
    st.GCorr.Erase();
    st.GLo.Erase(), st.GHi.Erase();
    st.IntervalNote.clear();
    return AtOptimumAfterwards(st, [&](bool& moved) { return Profiler(st, moved).Run(); });
}

} // namespace lumora
