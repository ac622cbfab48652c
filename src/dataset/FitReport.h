#pragma once
// What a read or a fit leaves for the user to read: the refined energies, their
// uncertainties and the misfit. The batch summary prints it; the main window shows it.

#include "model/State.h"

#include <optional>
#include <string>
#include <vector>

namespace lumora {

struct FitReport {
    int16_t ErrCode = 0;
    std::string ErrMsg;
    /// Square root of the goal function at the final parameters, as "Mean err.:" shows it
    double RmsErr = 0;
    /// Plain root-mean-square of measured minus calculated absorbances
    double rms = 0;
    int nSol = 0;
    int nWl = 0;
    struct Species {
        std::string name;
        /// Initial and Result Gibbs energies (kJ/mol)
        double initial = 0, result = 0;
        /// 95 % half-width (kJ/mol), 0 when none
        double pm = 0;
        bool free = false;
        /// Profile-likelihood bounds (kJ/mol) when that interval method ran
        std::optional<double> lo, hi;
        /// False when the profile never reached its threshold ("n.d.")
        bool determined = true;
        /// log10 of the formation constant from the system's basis, and its 95 % half-width
        std::optional<double> logK, logK_pm;
        /// Whether the profile method sought this species' bounds
        bool HasProfileBounds() const { return lo || hi || !determined; }
    };
    std::vector<Species> species;
    /// Correlation matrix of the refined energies, in the order of the free species
    /// (empty when there is none)
    std::vector<std::vector<double>> correlation;
    /// Why the intervals could not be estimated (empty when they could)
    std::string intervalNote;
    int iterations = 0;
    long evaluations = 0;
    double seconds = 0;
    /// What the reader changed of the data (raised probe scales)
    std::vector<std::string> notes;
};

/// The report of the state after a read (`readOk`) and possibly a run (`optimized`).
/// After a failed read the state is half-filled: only the error is reported then.
FitReport CollectFitReport(State& st, bool readOk, bool optimized);

} // namespace lumora
