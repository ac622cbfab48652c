#pragma once
// The system record: what the system reader learns from a system file.

#include <cstdint>
#include <string>
#include <vector>

namespace lumora {

/// One phase of a chemical system.
struct SysPhase {
    /// Number of species in the phase
    int16_t nSpecies = 0;
    /// Index of the species just before the phase's first one (so first = offset + 1)
    int16_t offset = 0;
    /// Phase name as the system file gives it ("aqueous", "gas", a mineral name)
    std::string name;
};

/// Species are numbered from 1 across the whole system. Non-aqueous phases come
/// first and the aqueous phase last, water being its first species: so the first
/// aqueous species is phases.back().offset + 1 and lastAq is the last species.
struct SysRec {
    /// Number of chemical elements (H and O included; water is element 0 of a bulk)
    int16_t nElem = 0;
    /// Number of pure mineral components
    int16_t nPmc = 0;
    /// Number of aqueous species, water included (0: no aqueous solution)
    int16_t nAq = 0;
    /// Index of the last aqueous species
    int16_t lastAq = 0;
    /// Phases in species order; the aqueous phase is the last entry
    std::vector<SysPhase> phases;
    /// Atomic number of element m = 1..nElem (entry 0 unused, 0)
    std::vector<int16_t> elemCode;
    /// Name of species i = 1..count (entry 0 unused, "")
    std::vector<std::string> spName;
};

} // namespace lumora
