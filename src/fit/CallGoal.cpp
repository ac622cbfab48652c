#include "fit/CallGoal.h"

#include "fit/Goal.h"

namespace lumora {

double CallGoal(State& st, int16_t probe) {
    if (!st.goalOverride) return Goal(st, probe);
    ++st.GoalCalls; // the real goal function counts its own calls
    return st.goalOverride(st, probe);
}

} // namespace lumora
