#include "engine/EngineFactory.h"

#include "engine/EngineProps.h"
#include "engine/EngineSolver.h"
#include "engine/EngineSysReader.h"

namespace lumora {
std::unique_ptr<Solver> CreateSolver() {
    return std::make_unique<EngineSolver>();
}
std::unique_ptr<Props> CreateProps() {
    return std::make_unique<EngineProps>();
}
std::unique_ptr<SysReader> CreateSysReader() {
    return std::make_unique<EngineSysReader>();
}
} // namespace lumora
