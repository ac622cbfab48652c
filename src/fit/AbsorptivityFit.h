#pragma once
// The normal mode's extinction coefficients at many wavelengths at once: the
// non-negative least squares of each wavelength from normal equations that all
// wavelengths with the same missing values share (GramNnls), in fixed blocks of
// wavelengths that helper threads may share. A wavelength it cannot settle is left
// to the goal function's step-by-step elimination.

#include "base/Bounded.h"
#include "linalg/GramNnls.h"

#include <cstdint>
#include <vector>

namespace lumora {

/// The fit of one evaluation as the wavelengths see it.
struct AbsorptivityProblem {
    int nSp = 0;
    int nSol = 0;
    const Mat<double>* data = nullptr; ///< A(j, w); values from kMissingLimit on are missing
    const double* root = nullptr;      ///< [j]: square root of solution j's weight
    /// [j * Stride() + k - 1]: root[j] times unit concentration Conc(k, j), zero past nSp
    const double* yT = nullptr;
    double damping = 0.0;

    /// The species padded to a multiple of four.
    size_t Stride() const { return (static_cast<size_t>(nSp) + 3) / 4 * 4; }
};

/// x(j) = root(j) A(j, w) where A is valid, else A(j, w) as it is; valid(j) says
/// which (x too large to be valid included). Arrays from j = 1; true when all are valid.
bool WeightedColumn(const AbsorptivityProblem& pr, int w, double* x, uint8_t* valid);

/// The damped normal matrix over the valid solutions, g[(a - 1) * nSp + b - 1].
void NormalMatrix(const AbsorptivityProblem& pr, const uint8_t* valid, double* g);

/// The right-hand side of the normal equations, b[k - 1].
void RightHandSide(const AbsorptivityProblem& pr, const double* x, const uint8_t* valid, double* b);

class AbsorptivityFit {
public:
    /// Fits wavelengths from..to in blocks of kBlock, each block starting afresh, so
    /// that the results do not depend on `parts` (the number of threads).
    void Run(const AbsorptivityProblem& pr, int from, int to, int parts);
    /// Marks wavelengths from..to as not fitted.
    void Skip(int nSp, int from, int to);

    bool Solved(int w) const { return solved_[static_cast<size_t>(w)] != 0; }
    /// The non-negative solution at w, [k - 1]; writable for the caller's own fits.
    double* Solution(int w) { return &solution_[static_cast<size_t>(w) * nSp_]; }

    static constexpr int kBlock = 32;

private:
    /// Working storage of one thread.
    struct Lane {
        std::vector<double> x, g, b, p;
        std::vector<uint8_t> valid;
        GramNnls whole; ///< no value missing
        bool wholeUsable = false;
        bool wholeReady = false;
        GramNnls pattern; ///< the missing values of the last wavelength that had some
        std::vector<uint8_t> patternValid;
        bool patternUsable = false;
    };

    void Size(int nSp, int to);
    void FitBlocks(const AbsorptivityProblem& pr, Lane& lane, int from, int to, int first,
                   int last);
    GramNnls* Matrix(const AbsorptivityProblem& pr, Lane& lane, bool allValid);

    int nSp_ = 0;
    std::vector<uint8_t> solved_;
    std::vector<double> solution_;
    std::vector<Lane> lanes_;
};

} // namespace lumora
