#include "app/FitChoices.h"

#include "base/RuntimeError.h"
#include "linalg/FactorAnalysis.h"
#include "model/GaussTable.h"

namespace lumora {

namespace {

bool ChooseFactors(State& st, int16_t n) {
    FactorResult r;
    try {
        r = AnalyzeFactors(st.nSol, st.nWl, st.AbsM, st.SolWeight);
    } catch (const RuntimeError& e) {
        st.ErrMsg = "Factor analysis failed: " + e.Description();
        return false;
    }
    if (!r.analyzable) {
        st.ErrMsg = "--factors: data are not factor analyzable";
        return false;
    }
    if (n > r.c - 1) {
        st.ErrMsg = "--factors " + std::to_string(n) + ": these data allow 1 to " +
                    std::to_string(r.c - 1) + " factors";
        return false;
    }
    st.nFactors = n;
    return true;
}

} // namespace

bool ApplyFitChoices(State& st, const CommandLine& cl) {
    st.ErrCode = 0;
    if (cl.factors > 0 && !ChooseFactors(st, cl.factors)) {
        st.ErrCode = -1;
        return false;
    }
    if (!cl.gauss) return true;
    try {
        LoadGaussians(st, -1);
    } catch (const RuntimeError& e) {
        st.FitMode = 0;
        st.ErrMsg = "--gauss: " + e.Description();
    }
    if (st.FitMode == 1 && st.ErrCode == 0) return true;
    if (st.ErrMsg.empty() || st.ErrCode == 0)
        st.ErrMsg = "--gauss: no Gaussian band table could be loaded from the sheet";
    st.ErrCode = -1;
    return false;
}

} // namespace lumora
