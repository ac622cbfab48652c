#include "ReadDataSet.h"

// Placeholder until the reader lands.
namespace lumora {
void ReadDataSet(State& st) {
    st.ErrCode = -1;
    st.ErrMsg = "";
}
} // namespace lumora
