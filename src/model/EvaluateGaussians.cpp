#include "model/EvaluateGaussians.h"

#include "model/GaussBand.h"

#include <algorithm>

namespace lumora {

bool FindGaussBlocks(const State& st, std::vector<int>& first, std::vector<int>& last) {
    const int nG = BandCount(st);
    first.assign(static_cast<size_t>(std::max<int>(st.nSp, 0)) + 1, 0);
    last.assign(first.size(), 0);
    bool covered = true;
    int cursor = 0;
    for (int k = 1; k <= st.nSp; ++k) {
        int g = cursor + 1;
        while (g <= nG && BandSpecies(st, g) != k) ++g;
        if (g > nG) {
            covered = false;
            continue;
        }
        cursor = g;
        while (cursor + 1 <= nG && BandSpecies(st, cursor + 1) == k) ++cursor;
        first[k] = g;
        last[k] = cursor;
    }
    return covered;
}

void EvaluateGaussians(State& st) {
    st.ErrCode = 0;
    try {
        if (BandCount(st) == 0) return;
        thread_local std::vector<int> first, last;
        // A species without bands would keep stale coefficients: refuse the table untouched.
        if (!FindGaussBlocks(st, first, last)) {
            st.Message("Error while evaluating Gaussians. Check them", Icon::Critical);
            st.ErrCode = -1;
            return;
        }
        for (int k = 1; k <= st.nSp; ++k) {
            for (int w = 1; w <= st.nWl; ++w) {
                const double x = GaussAbscissa(st, st.AbsM(0, w));
                double sum = 0.0;
                for (int g = first[k]; g <= last[k]; ++g)
                    sum += GaussBand(st, static_cast<int16_t>(g), x);
                st.Eps(k, w) = sum;
            }
        }
    } catch (const RuntimeError&) {
        st.Message("Error while evaluating Gaussians. Check them", Icon::Critical);
        st.ErrCode = -1;
    }
}

} // namespace lumora
