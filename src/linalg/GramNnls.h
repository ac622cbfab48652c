#pragma once
// Non-negative least squares from damped normal equations G p = b for many
// right-hand sides that share G (the wavelengths of a set of spectra). The steps are
// those of the goal function's elimination method, with the same tolerances, but each
// free set's block of G is inverted (by Cholesky factors) once and kept, so that a
// right-hand side that meets known free sets costs only products with the inverses.

#include "base/Bounded.h"

#include <cstdint>
#include <vector>

namespace lumora {

class GramNnls {
public:
    /// Largest order handled (free sets are bit masks).
    static constexpr int kMaxOrder = 31;
    /// Up to this 1-norm condition number the solution by the inverses agrees with the
    /// elimination's to well within 1e-10 and is taken as it is.
    static constexpr double kFactorLimit = 1e5;
    /// Up to this one the inverses find the free set and the elimination (SolveSystem)
    /// gives the final values; beyond it the caller should eliminate from scratch, as
    /// only that shows where the elimination itself breaks down.
    static constexpr double kConditionLimit = 1e6;

    /// Takes G (n x n, symmetric, g[r * n + c]) and the relative size below which a
    /// gradient counts as rounding; forgets the previous matrix's inverses. False when
    /// G is unusable here (order too high, not positive definite or condition above
    /// kConditionLimit).
    bool Reset(int n, const double* g, double tolerance);

    /// The non-negative solution for the right-hand side b (n values). p holds a
    /// non-negative start on entry (as a rule the previous right-hand side's solution,
    /// whose non-zeros are the first guess of the free set) and the solution on exit.
    /// False when the steps do not settle or the elimination disagrees; p is then
    /// undefined and the right-hand side is for the caller's own method.
    bool Solve(const double* b, double* p);

    /// The 1-norm condition number of G as taken by Reset.
    double Condition() const { return condition_; }

private:
    struct Block {
        uint32_t set = 0;
        std::vector<int> index;      ///< the free unknowns, ascending
        std::vector<double> inverse; ///< the inverse of G's block, row-major
    };

    const Block* BlockOf(uint32_t set);
    bool Invert(uint32_t set, Block& f);
    bool SolveFree(const Block& f, const double* b, double* e);
    bool StepToBoundary(const double* e, double* p) const;
    int ToRelease(const double* b, const double* p, int last) const;
    bool Eliminate(uint32_t set, const double* b, double* p, int last);
    double G(int r, int c) const { return g_[static_cast<size_t>(r) * n_ + c]; }

    int n_ = 0;
    double tolerance_ = 0.0;
    double condition_ = 0.0;
    std::vector<double> g_;
    std::vector<Block> blocks_;
    size_t used_ = 0;
    size_t last_ = 0; ///< the block found last
    std::vector<double> e_;
    std::vector<double> work_;
    std::vector<double> lower_; ///< Cholesky factor, then its inverse
    Mat<double> bordered_;
};

} // namespace lumora
