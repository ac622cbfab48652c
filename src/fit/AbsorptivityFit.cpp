#include "fit/AbsorptivityFit.h"

#include "fit/WorkerPool.h"
#include "model/State.h"

#include <algorithm>

namespace lumora {

bool WeightedColumn(const AbsorptivityProblem& pr, int w, double* x, uint8_t* valid) {
    const double* a = &pr.data->At(0, w);
    const double* root = pr.root;
    const int nSol = pr.nSol;
    bool allValid = true;
    for (int j = 1; j <= nSol; ++j) {
        const double v = a[j] < kMissingLimit ? root[j] * a[j] : a[j];
        x[j] = v;
        valid[j] = v < kMissingLimit;
        allValid = allValid && v < kMissingLimit;
    }
    return allValid;
}

// Both sums run over the solutions in order, as the elimination method has always
// summed them, so that both methods see the very same equations.

void NormalMatrix(const AbsorptivityProblem& pr, const uint8_t* valid, double* g) {
    const int nSp = pr.nSp;
    for (int a = 0; a < nSp; ++a) {
        for (int b = 0; b <= a; ++b) {
            double s = 0.0;
            for (int j = 1; j <= pr.nSol; ++j) {
                const double* y = &pr.yT[j * pr.Stride()];
                if (valid[j]) s += y[b] * y[a];
            }
            g[a * nSp + b] = g[b * nSp + a] = s;
        }
        g[a * nSp + a] *= 1.0 + pr.damping;
    }
}

void RightHandSide(const AbsorptivityProblem& pr, const double* x, const uint8_t* valid,
                   double* b) {
    const int nSp = pr.nSp;
    const size_t ld = pr.Stride();
    // Four species at a time, their sums held in registers (the padding of yT makes
    // every group whole).
    for (int k0 = 0; k0 < nSp; k0 += 4) {
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        for (int j = 1; j <= pr.nSol; ++j) {
            if (!valid[j]) continue;
            const double* y = &pr.yT[j * ld + k0];
            const double xj = x[j];
            s0 += xj * y[0];
            s1 += xj * y[1];
            s2 += xj * y[2];
            s3 += xj * y[3];
        }
        const double s[4] = {s0, s1, s2, s3};
        std::copy(s, s + std::min(4, nSp - k0), b + k0);
    }
}

void AbsorptivityFit::Size(int nSp, int to) {
    nSp_ = nSp;
    const size_t n = static_cast<size_t>(to) + 1;
    if (solved_.size() < n) solved_.resize(n);
    if (solution_.size() < n * nSp) solution_.resize(n * nSp);
}

void AbsorptivityFit::Skip(int nSp, int from, int to) {
    Size(nSp, to);
    for (int w = from; w <= to; ++w) solved_[w] = 0;
}

/// The shared matrix for the wavelength whose validity lane.valid holds, factorized
/// anew only when it differs from the last; null when it is unusable.
GramNnls* AbsorptivityFit::Matrix(const AbsorptivityProblem& pr, Lane& lane, bool allValid) {
    const auto reset = [&](GramNnls& m) {
        NormalMatrix(pr, lane.valid.data(), lane.g.data());
        return m.Reset(pr.nSp, lane.g.data(), pr.damping);
    };
    if (allValid) {
        if (!lane.wholeReady) lane.wholeUsable = reset(lane.whole);
        lane.wholeReady = true;
        return lane.wholeUsable ? &lane.whole : nullptr;
    }
    if (lane.valid != lane.patternValid) {
        lane.patternValid = lane.valid;
        lane.patternUsable = reset(lane.pattern);
    }
    return lane.patternUsable ? &lane.pattern : nullptr;
}

/// Blocks first..last of the wavelengths from..to, each from P = 1 as at the first
/// wavelength, then from the previous wavelength's solution.
void AbsorptivityFit::FitBlocks(const AbsorptivityProblem& pr, Lane& lane, int from, int to,
                                int first, int last) {
    const int nSp = pr.nSp;
    const size_t ld = static_cast<size_t>(pr.nSol) + 1;
    lane.x.resize(ld);
    lane.valid.resize(ld);
    lane.g.resize(static_cast<size_t>(nSp) * nSp);
    lane.b.resize(static_cast<size_t>(nSp));
    lane.p.resize(static_cast<size_t>(nSp));
    lane.wholeReady = false;
    lane.patternValid.clear();
    for (int block = first; block <= last; ++block) {
        std::fill(lane.p.begin(), lane.p.end(), 1.0);
        const int w0 = from + block * kBlock;
        for (int w = w0; w <= std::min(to, w0 + kBlock - 1); ++w) {
            const bool allValid = WeightedColumn(pr, w, lane.x.data(), lane.valid.data());
            GramNnls* m = Matrix(pr, lane, allValid);
            RightHandSide(pr, lane.x.data(), lane.valid.data(), lane.b.data());
            solved_[w] = m != nullptr && m->Solve(lane.b.data(), lane.p.data());
            if (solved_[w])
                std::copy(lane.p.begin(), lane.p.end(), Solution(w));
            else
                std::fill(lane.p.begin(), lane.p.end(), 1.0);
        }
    }
}

void AbsorptivityFit::Run(const AbsorptivityProblem& pr, int from, int to, int parts) {
    Size(pr.nSp, to);
    if (to < from) return;
    const int blocks = (to - from) / kBlock + 1;
    parts = std::clamp(parts, 1, blocks);
    if (static_cast<int>(lanes_.size()) < parts) lanes_.resize(static_cast<size_t>(parts));
    RunParts(parts, [&](int part) {
        const int first = part * blocks / parts;
        const int last = (part + 1) * blocks / parts - 1;
        try {
            FitBlocks(pr, lanes_[static_cast<size_t>(part)], from, to, first, last);
        } catch (...) {
            // Out of memory: the elimination method meets it again and reports it.
            for (int w = from + first * kBlock; w <= std::min(to, from + (last + 1) * kBlock - 1);
                 ++w)
                solved_[w] = 0;
        }
    });
}

} // namespace lumora
