#pragma once
// The engine's standard Gibbs energy of a species at the data set's T and P, the start
// value of an empty "Initial" cell.

#include "model/State.h"

#include <cstdint>

namespace lumora {

/// Gibbs energy (kJ/mol) of the species with this code at TK, PBar, Dens of the state;
/// the engine's failure value (magnitude >= 1e33) when it has none.
float StartValue(State& st, int16_t code);

} // namespace lumora
