#pragma once
// The normal equations J'J d = -J'r of a least-squares step in a few parameters.

#include <vector>

namespace lumora {

/// Solved with Marquardt's damping of the diagonal. Parameters that do not move the
/// residuals keep a zero step.
class NormalEquations {
public:
    /// From the Jacobian (column after column, n columns) and the residuals.
    void Build(const std::vector<double>& jac, const std::vector<double>& r, int n);

    /// Whether any parameter moves the residuals.
    bool AnyMoves() const { return !moving_.empty(); }

    /// (J'J + mu diag(J'J)) d = -J'r by Cholesky on the unit-diagonal scaling; false when
    /// that matrix is not positive definite in working precision.
    bool Solve(double mu, std::vector<double>& d) const;

    /// The gain the linear model foretells for the step d: |r|^2 - |r + J d|^2.
    double Predicted(const std::vector<double>& d) const;

    /// Element (k, l) of J'J.
    double A(int k, int l) const { return a_[k * n_ + l]; }

private:
    int n_ = 0;
    std::vector<double> a_; ///< J'J, n x n
    std::vector<double> g_; ///< J'r
    std::vector<int> moving_;
};

} // namespace lumora
