#include "model/GaussBand.h"

#include "base/RuntimeError.h"

#include <cmath>

namespace lumora {

int BandCount(const State& st) {
    if (!st.GaussTab.Dimensioned()) return 0;
    const int nG = CInt16(st.GaussTab(0, 0));
    if (nG < 0) throw RuntimeError(kSubscriptOutOfRange);
    return nG;
}

int BandSpecies(const State& st, int g) {
    return CInt16(st.GaussTab(0, g));
}

double GaussBand(const State& st, int16_t g, double x) {
    const double c = st.GaussTab(1, g);
    const double h = st.GaussTab(2, g);
    const double lnHeight = st.GaussTab(3, g);
    const double u = CheckedDiv(c - x, h);
    return CheckedExp(lnHeight - kGaussShape * (u * u));
}

double GaussAbscissa(const State& st, double lambda) {
    return st.GaussArg ? CheckedDiv(st.MeanWl, lambda) : CheckedDiv(lambda, st.MeanWl);
}

void GaussAbscissaRange(const State& st, double& lo, double& hi) {
    if (st.GaussArg) {
        lo = CheckedDiv(st.MeanWl, st.WlMax);
        hi = CheckedDiv(st.MeanWl, st.WlMin);
    } else {
        lo = CheckedDiv(st.WlMin, st.MeanWl);
        hi = CheckedDiv(st.WlMax, st.MeanWl);
    }
}

} // namespace lumora
