#include "fit/GoalResiduals.h"

#include "base/RuntimeError.h"
#include "fit/Goal.h"

namespace lumora {

namespace {

bool Valid(double a) {
    return a < kMissingLimit;
}

/// The model arrays that CalculatedAbsorbance reads unchecked cover every solution and
/// wavelength ("Subscript out of range" otherwise).
void CheckModelBounds(const State& st) {
    (void)(st.FitMode == 1 ? st.AbsC(st.nSol, st.nWl) : st.Eps(st.nSp, st.nWl));
    (void)st.Conc(st.nSp, st.nSol);
}

/// The number of valid measurements of solution j (AbsM checked by the caller).
int ValidValues(const State& st, int j) {
    int n = 0;
    for (int w = 1; w <= st.nWl; ++w) n += Valid(st.AbsM.At(j, w));
    return n;
}

/// f(j, calculated minus measured absorbance) of every valid measurement, solution after
/// solution.
template <class F> void EachDifference(const State& st, F f) {
    (void)st.AbsM(st.nSol, st.nWl);
    CheckModelBounds(st);
    for (int j = 1; j <= st.nSol; ++j)
        for (int w = 1; w <= st.nWl; ++w) {
            const double m = st.AbsM.At(j, w);
            if (Valid(m)) f(j, CalculatedAbsorbance(st, j, w) - m);
        }
}

} // namespace

int ValidAbsorbances(const State& st) {
    (void)st.AbsM(st.nSol, st.nWl);
    int n = 0;
    for (int j = 1; j <= st.nSol; ++j) n += ValidValues(st, j);
    return n;
}

std::vector<double> ResidualScales(const State& st) {
    const double dof = GoalDegreesOfFreedom(st);
    (void)st.AbsM(st.nSol, st.nWl);
    std::vector<double> scale(static_cast<size_t>(st.nSol) + 1, 0.0);
    for (int j = 1; j <= st.nSol; ++j) {
        const int n = ValidValues(st, j);
        if (n > 0)
            scale[j] = CheckedSqrt(CheckedDiv(static_cast<double>(st.SolWeight(j)), n * dof));
    }
    return scale;
}

double CalculatedAbsorbance(const State& st, int j, int w) {
    if (st.FitMode == 1) return static_cast<double>(st.AbsC.At(j, w));
    double calc = 0.0;
    for (int k = 1; k <= st.nSp; ++k) calc += st.Eps.At(k, w) * st.Conc.At(k, 0) * st.Conc.At(k, j);
    return calc;
}

bool HasResiduals(const State& st) {
    return st.nFactors == 0 && (!st.goalOverride || st.residualsOverride);
}

void GoalResiduals(const State& st, std::vector<double>& r) {
    if (st.residualsOverride) return st.residualsOverride(st, r);
    const std::vector<double> scale = ResidualScales(st);
    r.clear();
    EachDifference(st, [&](int j, double d) { r.push_back(scale[j] * d); });
}

double PlainRms(const State& st) {
    double sum = 0.0;
    long n = 0;
    EachDifference(st, [&](int, double d) {
        sum += d * d;
        ++n;
    });
    return CheckedSqrt(CheckedDiv(sum, static_cast<double>(n)));
}

} // namespace lumora
