#include "fit/IntervalDiagnostics.h"

#include "fit/CallGoal.h"
#include "fit/MarquardtSteps.h"
#include "linalg/Correlation.h"

#include <cmath>

namespace lumora {

namespace {

/// A component of the worst-determined combination larger than this names its species.
constexpr double kNamedComponent = 0.3;

} // namespace

std::string NameList(const std::vector<std::string>& names) {
    std::string text;
    for (size_t k = 0; k < names.size(); ++k) {
        if (k > 0) text += k + 1 == names.size() ? " and " : ", ";
        text += names[k];
    }
    return text;
}

std::vector<int> FreeSpecies(const State& st) {
    std::vector<int> free;
    for (int i = 1; i <= st.nSp; ++i)
        if (st.SpFree(i)) free.push_back(i);
    return free;
}

bool GaussNewtonMatrix(State& st, const std::vector<int>& free, Mat<double>& a) {
    const double f = CallGoal(st, -1);
    if (st.ErrCode != 0) return false;
    MarquardtSteps steps(st, free, false);
    steps.Start(f);
    if (!steps.Jacobian()) return false;
    const int n = static_cast<int>(free.size());
    a.Redim(n, n);
    for (int k = 1; k <= n; ++k)
        for (int l = 1; l <= n; ++l) a(k, l) = steps.Curvature(k - 1, l - 1);
    return true;
}

void SetCorrelation(State& st, const Mat<double>& a, int n) {
    if (n < 1 || !InverseCorrelation(a, n, st.GCorr)) st.GCorr.Erase();
}

std::string UndeterminedReason(const State& st, const std::vector<int>& free,
                               const Mat<double>& a) {
    const std::vector<double> v = SmallestEigenvector(a, static_cast<int>(free.size()));
    std::vector<std::string> names;
    for (size_t k = 0; k < free.size(); ++k)
        if (std::fabs(v[k]) > kNamedComponent) names.push_back(st.SpName(free[k]));
    if (names.empty()) return "";
    if (names.size() == 1) return names[0] + " is not determined by these data";
    return NameList(names) + " cannot be told apart by these data";
}

} // namespace lumora
