#include "fit/IntervalPhase.h"

#include "fit/CallGoal.h"

namespace lumora {

namespace {

void ReturnToOptimum(State& st, const Vec<double>& optimum) {
    st.G0 = optimum;
    const int16_t code = st.ErrCode;
    CallGoal(st, -1);
    if (code != 0) st.ErrCode = code;
}

} // namespace

bool AtOptimumAfterwards(State& st, const std::function<bool(bool& moved)>& phase) {
    const Vec<double> optimum = st.G0;
    const double shownErr = st.RmsErr;
    bool moved = false;
    bool done = false;
    try {
        done = phase(moved);
    } catch (...) {
        st.RmsErr = shownErr;
        if (moved) ReturnToOptimum(st, optimum);
        throw;
    }
    // A phase may keep the raw goal value in RmsErr; give back the shown error.
    st.RmsErr = shownErr;
    if (moved) ReturnToOptimum(st, optimum);
    return done;
}

} // namespace lumora
