#pragma once

#include "app/State.h"

namespace lumora {

/// Reads and checks the data-set sheet; the outcome is ErrCode and ErrMsg.
void ReadDataSet(State& st);

} // namespace lumora
