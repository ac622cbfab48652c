#include "Goal.h"

// Placeholder until the goal function lands.
namespace lumora {
double Goal(State& st, int16_t) {
    st.ErrCode = -1;
    return 0.0;
}
} // namespace lumora
