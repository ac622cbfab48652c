#include "fit/OptimizeRun.h"

#include "base/NumText.h"
#include "base/RuntimeError.h"
#include "fit/CallGoal.h"
#include "model/ReadFixedMarks.h"

#include <string>

namespace lumora {

OptimizeRun::OptimizeRun(State& st, const OptimizeOptions& options)
    : st_(st), ui_(*st.ui), options_(options) {}

OptimizeResult OptimizeRun::Run() {
    OptimizeResult result;
    result.end = Start() ? Iterate() : OptimizeEnd::StartFailed;
    if (result.end == OptimizeEnd::Stopped && st_.ErrCode == kInterrupt) BackToShownParameters();
    result.iterations = st_.IterCount;
    return result;
}

bool OptimizeRun::Error(int16_t probe, double& e) {
    const double value = CallGoal(st_, probe);
    if (st_.ErrCode != 0) return false;
    e = CheckedSqrt(value);
    return true;
}

bool OptimizeRun::Start() {
    st_.IterCount = 0;
    st_.GaussLimit = 0.95;
    if (st_.FitMode != 0)
        ReadFixedMarks(st_);
    else
        st_.GaussFixed.Erase();
    for (int i = 1; i <= st_.nSp; ++i) st_.G0(i) = st_.G0Res(i);
    shown_ = st_.G0;
    return Error(0, st_.RmsErr);
}

bool OptimizeRun::Report() {
    st_.IterCount = CInt16(st_.IterCount + 1.0);
    ui_.status("Iteration: " + std::to_string(st_.IterCount) +
               ",    Error: " + Trim(FormatNumber(st_.RmsErr, "0.000000")));
    ui_.yield();
    if (st_.ErrCode != 0) return false;
    shown_ = st_.G0;
    if (options_.onIteration) options_.onIteration(st_);
    return true;
}

bool OptimizeRun::ConvergedAtAccuracy() {
    if (st_.FitMode == 0 || st_.GaussLimit == 0.9995) return true;
    if (st_.GaussLimit < 0.995)
        st_.GaussLimit = 0.995;
    else if (st_.GaussLimit < 0.9995)
        st_.GaussLimit = 0.9995;
    return false;
}

void OptimizeRun::BackToShownParameters() {
    st_.G0 = shown_;
    CallGoal(st_, -1);
    st_.ErrCode = kInterrupt;
}

} // namespace lumora
