#include "fit/CallGoal.h"

#include "fit/Goal.h"

namespace lumora {

double CallGoal(State& st, int16_t probe) {
    if (!st.hooks.goal) return Goal(st, probe);
    ++st.GoalCalls; // the real goal function counts its own calls
    return st.hooks.goal(st, probe);
}

} // namespace lumora
