#pragma once
// The equilibrium solver component: database, options and system of a speciation,
// Gibbs energies of the refined species, and the equilibrium of one solution.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace lumora {

class Solver {
public:
    virtual ~Solver() = default;

    virtual void Shutdown() = 0;
    /// Options text; unknown switches are refused through LastMessage.
    virtual void SetOptions(const std::string& options) = 0;
    virtual void OpenDatabase(const std::string& path) = 0;
    /// On success LastMessage() is "System file accepted".
    virtual void OpenSystem(const std::string& path) = 0;
    /// Standard Gibbs energy (kJ/mol) of system species `species` until the system is reopened.
    virtual void SetSpeciesG(int16_t species, float g) = 0;
    /// "" after a successful SetOptions / OpenDatabase, a reason otherwise.
    virtual std::string LastMessage() = 0;
    /// (27, 0) forgets the previous result used as warm start.
    virtual void SetControl(int what, int value) = 0;
    /// Equilibrium at t (C), p (bar) for element amounts bulk[0..nElem] (0 = water, mol);
    /// amounts[0..lastAq] receives species amounts in system order. code 0 = success.
    virtual void Equilibrate(float t, float p, std::span<double> work1,
                             std::span<const double> bulk, std::span<double> amounts,
                             std::span<double> work2, int16_t& code) = 0;
    virtual int16_t Version() = 0;
};

} // namespace lumora
