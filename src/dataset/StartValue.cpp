#include "dataset/StartValue.h"

#include "base/RuntimeError.h"

namespace lumora {

float StartValue(State& st, int16_t code) {
    Props& p = *st.props;
    if (code == 0) return CSng(st.WaterB / 1000.0);
    if (code == 1) return 0.0f;
    if (code == 2) return CSng(p.StartValueCode2(st.TK, st.Dens, st.WaterB) / 1000.0);
    if (code < 1024) return p.StartValueLow(code, st.TK, st.PBar, st.Dens, st.WaterA);
    return p.StartValueHigh(code, st.TK, st.PBar, st.Dens, st.WaterA, 0);
}

} // namespace lumora
