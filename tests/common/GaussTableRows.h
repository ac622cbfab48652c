#pragma once
// Band tables as the tests write them: one row per band, turned into GaussTab.

#include "model/State.h"

#include <vector>

namespace lumora::test {

/// Species (a double, so that tests can store ids that need rounding), centre, width
/// and log height of one band, in scaled abscissa units.
struct BandRow {
    double species, c, h, l;
};

/// GaussTab from rows, species blocks in the order given.
inline void FillGaussTab(State& st, const std::vector<BandRow>& rows) {
    const int nG = static_cast<int>(rows.size());
    st.GaussTab.Redim(3, nG);
    st.GaussTab(0, 0) = nG;
    for (int g = 1; g <= nG; ++g) {
        const BandRow& b = rows[static_cast<size_t>(g - 1)];
        st.GaussTab(0, g) = b.species;
        st.GaussTab(1, g) = b.c;
        st.GaussTab(2, g) = b.h;
        st.GaussTab(3, g) = b.l;
    }
}

} // namespace lumora::test
