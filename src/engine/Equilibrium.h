#pragma once
// Equilibrium speciation of an aqueous solution: Gibbs energy minimisation written in
// the law-of-mass-action form over a basis of species (water first), solved by a full
// Newton method in log-molality variables with the ionic strength as an unknown.
//
// Conventions: water activity 1; solutes on the molality scale (moles per kilogram of
// the solution's own water, 55.50843 mol H2O per kg); activity coefficients from the
// extended Debye-Hueckel (B-dot) model of Helgeson (1969, Am. J. Sci. 267, 729),
//   log10 gamma = -A z^2 sqrt(I) / (1 + a B sqrt(I)) + Bdot I   for ions,
// gamma = 1 for neutral species.

#include "base/Constants.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace lumora {

/// One aqueous species as the equilibrium calculation sees it.
struct EquilibriumSpecies {
    /// Moles of system element m per mole of species, entry m - 1 for m = 1..nElem
    std::vector<double> stoich;
    /// Charge
    double charge = 0;
    /// Ion size of the B-dot model (Angstrom)
    double ionSize = 0;
};

enum class ActivityModel {
    BDot, ///< extended Debye-Hueckel with B-dot
    Ideal ///< all activity coefficients 1
};

struct EquilibriumOptions {
    /// Activity model of the solutes
    ActivityModel activity = ActivityModel::BDot;
    /// Largest relative residual of the mass, charge and ionic-strength balances
    double tolerance = 1e-13;
    /// Newton iterations allowed per start
    int maxIterations = 200;
    /// Start from the previous result of the same set of elements, when there is one
    bool warmStart = false;
};

/// Conditions of one solve.
struct ActivityParams {
    /// Temperature (K)
    double T = 298.15;
    /// Debye-Hueckel A (kg^0.5 mol^-0.5) and B (kg^0.5 mol^-0.5 Angstrom^-1)
    double A = 0.5114;
    double B = 0.3288;
    /// B-dot (kg/mol)
    double Bdot = 0.041;
};

/// Outcome codes of a solve (also the codes of the solver component).
enum EquilibriumCode : int16_t {
    kEqOk = 0,
    kEqNoSystem = 1,      ///< no system or no database, or the standard properties failed
    kEqBadInput = 2,      ///< non-finite or negative input, arrays too small
    kEqInfeasible = 3,    ///< the bulk cannot be neutral or cannot be matched by the species
    kEqNoConvergence = 4, ///< the Newton iteration did not converge
    kEqUnsupported = 5    ///< phases other than the aqueous solution
};

struct EquilibriumResult {
    /// kEqOk or one of EquilibriumCode
    int16_t code = kEqOk;
    /// Newton steps taken
    int iterations = 0;
    /// Ionic strength (mol/kg)
    double ionicStrength = 0;
    /// Why it failed (empty on success)
    std::string message;
};

class Equilibrium {
public:
    Equilibrium();
    ~Equilibrium();
    Equilibrium(const Equilibrium&) = delete;
    Equilibrium& operator=(const Equilibrium&) = delete;

    /// The aqueous species, water first; elementNames[m - 1] names element m in messages.
    /// False (with `message`) for a system the solver cannot handle.
    bool SetSpecies(std::vector<EquilibriumSpecies> species, std::vector<std::string> elementNames,
                    std::string& message);
    int SpeciesCount() const { return static_cast<int>(species_.size()); }
    int ElementCount() const { return static_cast<int>(elementNames_.size()); }

    /// Standard Gibbs energy (J/mol) of species i.
    void SetGibbs(int i, double G);
    double Gibbs(int i) const { return G_[static_cast<size_t>(i)]; }
    /// Temperature and Debye-Hueckel parameters.
    void SetActivityParams(const ActivityParams& p);

    /// Equilibrium for bulk[0] mol of water and bulk[m] mol of element m (in excess of the
    /// water); amounts[i] receives the amount of species i (mol), 0 for species dropped with
    /// their elements. On failure every amount is 0.
    EquilibriumResult Solve(std::span<const double> bulk, std::span<double> amounts,
                            const EquilibriumOptions& options);
    /// Forget the previous results used as warm starts.
    void ForgetWarmStart();

    /// Natural log of the activity coefficient of species i at ionic strength I.
    double LnGamma(int i, double I, ActivityModel model) const;

private:
    struct Config;
    Config* FindConfig(uint64_t mask);
    void BuildConfig(Config& c) const;
    void UpdateLogK(Config& c) const;
    bool Evaluate(Config& c, const double* x, double* R, double* scale) const;
    void Jacobian(Config& c) const;
    int Newton(Config& c, const EquilibriumOptions& options, double& maxRes);
    int ColdStart(Config& c, const EquilibriumOptions& options, double& maxRes, int& total);
    int WarmStart(Config& c, const EquilibriumOptions& options, double& maxRes, int& total);
    void InitialGuess(Config& c) const;

    std::vector<EquilibriumSpecies> species_;
    std::vector<std::string> elementNames_;
    std::vector<double> G_;
    ActivityParams params_;
    /// Bumped whenever a Gibbs energy or the temperature changes
    uint64_t gibbsVersion_ = 1;
    std::vector<std::unique_ptr<Config>> configs_;
};

} // namespace lumora
