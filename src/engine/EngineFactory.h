#pragma once
// Creation of the three engine components.

#include "engine/Props.h"
#include "engine/Solver.h"
#include "engine/SysReader.h"

#include <memory>

namespace lumora {

std::unique_ptr<Solver> CreateSolver();
std::unique_ptr<Props> CreateProps();
std::unique_ptr<SysReader> CreateSysReader();

/// Version of the engine components.
inline constexpr int16_t kEngineVersion = 70;

} // namespace lumora
