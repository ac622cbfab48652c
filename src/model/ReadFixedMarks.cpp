#include "model/ReadFixedMarks.h"

#include "base/NumText.h"
#include "model/ReadCell.h"
#include "model/State.h"
#include "sheet/Worksheet.h"

#include <algorithm>
#include <cmath>

namespace lumora {

void ReadFixedMarks(State& st) {
    const int nG = st.GaussTab.Dimensioned() ? static_cast<int>(std::lrint(st.GaussTab(0, 0))) : 0;
    const int nPar = std::max(0, 3 * nG);
    st.GaussFixed.Redim(nPar);
    if (!st.xlSheet || nPar == 0) return;

    int a = 0;
    for (int r = 10; r <= 9 + st.nSp; ++r) {
        const double b = Val(CellText(*st.xlSheet, r, 7));
        // 3b + 7 rounded (ties to even), kept in range: a huge count must not overflow,
        // and the marks array ends at 3 x nG anyway.
        const double last = std::nearbyint(std::clamp(3.0 * b + 7.0, 0.0, 7.0 + nPar));
        for (int c = 8; c <= static_cast<int>(last); ++c) {
            if (++a > nPar) return;
            if (st.xlSheet->Comment(r, c)) st.GaussFixed(a) = 1;
        }
    }
}

} // namespace lumora
