#include "fit/GaussianCheck.h"

#include "base/NumText.h"
#include "fit/CallGoal.h"

#include <cmath>
#include <string>

namespace lumora {

namespace {

/// No free energy moved further than this (kJ/mol), the line search's shortest step.
constexpr double kUnmoved = 1e-4;

bool Moved(const State& st, const Vec<float>& start) {
    for (int i = 1; i <= st.nSp; ++i)
        if (st.SpFree(i) && std::fabs(st.G0(i) - start(i)) > kUnmoved) return true;
    return false;
}

/// The normal mode's mean error at G0, 0 when it cannot be had; nothing is asked or
/// shown. The Gaussian mode's model state is evaluated again afterwards.
double NormalModeError(State& st) {
    SilentUi quiet;
    Ui* const shown = st.ui;
    const double damping = st.Damping;
    st.ui = &quiet;
    st.FitMode = 0;
    const double value = CallGoal(st, -1);
    const double error = st.ErrCode == 0 && value >= 0.0 ? std::sqrt(value) : 0.0;
    st.FitMode = 1;
    CallGoal(st, -1);
    st.ui = shown;
    st.Damping = damping;
    return error;
}

std::string Number(double x, const char* pattern) {
    return Trim(FormatNumber(x, pattern));
}

} // namespace

void CheckGaussianResult(State& st, const Vec<float>& start) {
    if (st.FitMode != 1) return;
    const int16_t code = st.ErrCode;
    const bool moved = Moved(st, start);
    const double normal = NormalModeError(st);
    st.ErrCode = code;
    std::string what;
    if (normal > 0.0 && st.RmsErr > kGaussClearlyWorse * normal)
        what = "the mean error " + Number(st.RmsErr, "0.000000") + " is " +
               Number(st.RmsErr / normal, "0.0") + " times the normal mode's " +
               Number(normal, "0.000000") +
               " at the same energies: the bands do not describe the spectra";
    if (!moved) what += (what.empty() ? "" : "; ") + std::string("the energies did not move");
    if (what.empty()) return;
    st.Message("Gaussian mode: " + what +
                   ". The energies and their intervals are not reliable: build other bands "
                   "(threshold, wavelength or wavenumber) or use the normal mode  ",
               Icon::Exclamation);
}

} // namespace lumora
