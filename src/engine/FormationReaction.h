#pragma once
// Formation reactions from a system's basis, the reactions whose constants titration
// work quotes (log K of HostGuest from Host + Guest, of CoCl+ from Co+2 + Cl-).
//
// The basis: water, H+ when the system has it, and for every other element or component
// one reference species: the first aqueous species of the system made of that element
// alone (Cl-, Co+2, Host), else the first made of it with H and O only (SO4-2). A species
// forms from them with H2O and H+ balancing H, O and the charge; when that cannot be
// done (an element without a reference species, a charge that only electrons would
// balance) its formation is not defined.

#include <string>
#include <utility>
#include <vector>

namespace lumora {

class Database;

/// (basis species, moles) of one formation: species = sum of moles x basis species.
using Reaction = std::vector<std::pair<std::string, double>>;

/// The formation of `name` from the basis of the aqueous species `system` (water first).
/// Empty when not defined, and for the basis species themselves.
Reaction FormationReaction(const Database& db, const std::vector<std::string>& system,
                           const std::string& name);

} // namespace lumora
