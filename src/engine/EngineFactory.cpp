#include "EngineFactory.h"

// Placeholder until the engine lands: no components yet.
namespace lumora {
std::unique_ptr<Solver> CreateSolver() { return nullptr; }
std::unique_ptr<Props> CreateProps() { return nullptr; }
std::unique_ptr<SysReader> CreateSysReader() { return nullptr; }
} // namespace lumora
