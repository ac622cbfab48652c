#pragma once
// The fitting choices that the desktop program makes in its windows, made from the batch
// command line: the Gaussian mode (the fitting mode window's "Use Gaussians" and "Load")
// and the reduced data matrix (the factor window's "Try to reduce errors").

#include "app/CommandLine.h"
#include "model/State.h"

namespace lumora {

/// After a successful read: loads the band table of the sheet for --gauss and sets
/// nFactors for --factors. False with ErrMsg when the sheet has no usable band table
/// or the count is not one the factor window would offer (1 .. columns - 1).
bool ApplyFitChoices(State& st, const CommandLine& cl);

} // namespace lumora
