#pragma once
// Levenberg-Marquardt steps on the residual vector of the goal function in the Gibbs
// energies of a chosen set of species: the iterations of the optimizer, and the inner
// minimisations of the profile intervals. The goal function eliminates the absorptivities
// by its non-negative least squares at every evaluation, so the steps move the Gibbs
// energies only.

#include "fit/NormalEquations.h"
#include "fit/ProjectedJacobian.h"
#include "model/State.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace lumora {

class MarquardtSteps {
public:
    enum class Outcome {
        /// A step lowered the error; the best point moved there.
        Lowered,
        /// No step that the goal function can resolve lowers the error.
        Unresolved,
        /// The goal function failed or Esc was pressed.
        Stopped,
    };

    /// Steps in the Gibbs energies of `species` (1..nSp); the others stay where G0 holds
    /// them. With fitBands the Gaussian mode fits its bands anew (probe 0) at every
    /// accepted point, as the optimizer does; otherwise every evaluation is a probe.
    MarquardtSteps(State& st, std::vector<int> species, bool fitBands);

    /// Starts at G0, whose goal value f has just been evaluated (the model state belongs
    /// to it).
    void Start(double f);
    /// The Jacobian at the best point, one column per species, and the normal equations;
    /// G0 is left at the best point. False when the goal function failed or Esc was pressed.
    bool Jacobian();
    /// Whether any of the species moves the error (after Jacobian).
    bool AnyMoves() const;
    /// What a full Gauss-Newton step would gain by the linear model; infinite when the
    /// normal equations cannot tell.
    double ExpectedGain();
    /// Damped steps from the best point, the damping raised after every step that does
    /// not lower the error, until one does or none can be resolved any more.
    Outcome Descend();
    /// Once more at the best point, so that the model state belongs to it; probe 0 fits
    /// the bands of the Gaussian mode anew and makes its value the best one.
    bool EvaluateAtBest(int16_t probe);
    /// The first damping again (a new problem at the same point).
    void ResetDamping();

    /// Goal value at the best point.
    double Value() const { return f_; }
    /// G0 of the species at the best point.
    const std::vector<double>& Best() const { return best_; }
    /// Element (k, l) of J'J of the last Jacobian (species in the order given).
    double Curvature(int k, int l) const { return normal_.A(k, l); }

    /// Called when a step is accepted, before the Gaussian mode fits its bands there.
    std::function<void()> onAccept;

private:
    bool Evaluate(int16_t probe, double& f);
    void TakeBest();
    bool ProjectedColumn(size_t k);
    bool ResidualColumn(size_t k);
    bool EvaluateAt(int i, double g);
    double ProbeStep(int i, double step, double sign) const;
    bool MoveBy(std::vector<double>& d);
    bool Accept(double f, double predicted);
    void Reject();
    Outcome BackToBest(Outcome outcome);

    State& st_;
    std::vector<int> free_; ///< species numbers of the species stepped
    bool fitBands_;
    std::vector<double> best_; ///< G0 of the species at the best point
    double f_ = 0.0;           ///< goal value at the best point
    std::vector<double> r_;    ///< residuals at the best point
    std::vector<double> jac_;  ///< d r / d G0, column after column
    std::vector<double> column_, lower_;
    std::vector<double> step_; ///< step of the species
    NormalEquations normal_;
    ProjectedJacobian projection_;
    double mu_;
    double nu_ = 2.0;
};

} // namespace lumora
