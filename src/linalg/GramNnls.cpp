#include "linalg/GramNnls.h"

#include "base/RuntimeError.h"
#include "linalg/Cholesky.h"
#include "linalg/LinearAlgebra.h"

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

/// Free sets met for one matrix are few (neighbouring right-hand sides share theirs);
/// past this many the cache starts afresh.
constexpr size_t kMaxBlocks = 64;

uint32_t Support(const double* p, int n) {
    uint32_t set = 0;
    for (int k = 0; k < n; ++k)
        if (p[k] != 0.0) set |= 1u << k;
    return set;
}

/// The 1-norm of a symmetric matrix: its largest column sum of magnitudes.
double Norm1(const double* a, int n) {
    double best = 0.0;
    for (int c = 0; c < n; ++c) {
        double s = 0.0;
        for (int r = 0; r < n; ++r) s += std::fabs(a[static_cast<size_t>(r) * n + c]);
        best = std::max(best, s);
    }
    return best;
}

} // namespace

bool GramNnls::Reset(int n, const double* g, double tolerance) {
    n_ = n;
    tolerance_ = tolerance;
    used_ = 0;
    last_ = 0;
    condition_ = INFINITY;
    if (n < 1 || n > kMaxOrder) return false;
    g_.assign(g, g + static_cast<size_t>(n) * n);
    e_.assign(static_cast<size_t>(n), 0.0);
    work_.assign(static_cast<size_t>(n), 0.0);
    const Block* f = BlockOf((1u << n) - 1);
    if (f == nullptr) return false;
    condition_ = Norm1(g_.data(), n) * Norm1(f->inverse.data(), n);
    return condition_ <= kConditionLimit;
}

const GramNnls::Block* GramNnls::BlockOf(uint32_t set) {
    // Neighbouring right-hand sides mostly meet the set met last.
    if (last_ < used_ && blocks_[last_].set == set) return &blocks_[last_];
    for (size_t i = 0; i < used_; ++i)
        if (blocks_[i].set == set) {
            last_ = i;
            return &blocks_[i];
        }
    if (used_ == kMaxBlocks) used_ = 1; // the whole set's inverse stays first
    if (blocks_.size() <= used_) blocks_.resize(used_ + 1);
    Block& f = blocks_[used_];
    if (!Invert(set, f)) return nullptr;
    last_ = used_++;
    return &f;
}

/// The inverse of the free set's block of G from its Cholesky factor L: L^-T L^-1.
bool GramNnls::Invert(uint32_t set, Block& f) {
    f.set = set;
    f.index.clear();
    for (int k = 0; k < n_; ++k)
        if (set & (1u << k)) f.index.push_back(k);
    const int m = static_cast<int>(f.index.size());
    const size_t mm = static_cast<size_t>(m) * m;
    lower_.assign(mm, 0.0);
    double* l = lower_.data();
    for (int i = 0; i < m; ++i)
        for (int j = 0; j <= i; ++j) l[static_cast<size_t>(i) * m + j] = G(f.index[i], f.index[j]);
    if (!Cholesky(l, m)) return false;
    for (int i = 0; i < m; ++i)
        if (!std::isfinite(l[static_cast<size_t>(i) * m + i])) return false;
    // L^-1 in place of L, column by column.
    for (int c = 0; c < m; ++c) {
        const double diag = 1.0 / l[static_cast<size_t>(c) * m + c];
        for (int r = c + 1; r < m; ++r) {
            const double* lr = l + static_cast<size_t>(r) * m;
            double s = lr[c] * diag;
            for (int k = c + 1; k < r; ++k) s += lr[k] * l[static_cast<size_t>(k) * m + c];
            l[static_cast<size_t>(r) * m + c] = -s / lr[r];
        }
        l[static_cast<size_t>(c) * m + c] = diag;
    }
    f.inverse.assign(mm, 0.0);
    for (int i = 0; i < m; ++i)
        for (int j = 0; j <= i; ++j) {
            double s = 0.0;
            for (int r = i; r < m; ++r)
                s += l[static_cast<size_t>(r) * m + i] * l[static_cast<size_t>(r) * m + j];
            f.inverse[static_cast<size_t>(i) * m + j] = f.inverse[static_cast<size_t>(j) * m + i] =
                s;
        }
    return true;
}

/// e = the solution of the free set's equations, 0 outside the set; false when it
/// is not finite.
bool GramNnls::SolveFree(const Block& f, const double* b, double* e) {
    const int m = static_cast<int>(f.index.size());
    double* bf = work_.data();
    for (int i = 0; i < m; ++i) bf[i] = b[f.index[i]];
    std::fill(e, e + n_, 0.0);
    bool finite = true;
    for (int i = 0; i < m; ++i) {
        const double* row = &f.inverse[static_cast<size_t>(i) * m];
        double s = 0.0;
        for (int j = 0; j < m; ++j) s += row[j] * bf[j];
        e[f.index[i]] = s;
        finite = finite && std::isfinite(s);
    }
    return finite;
}

/// When e has a negative part, steps p towards it as far as non-negativity allows,
/// dropping to zero what the step only just misses; false (p untouched) otherwise.
bool GramNnls::StepToBoundary(const double* e, double* p) const {
    double f = 1.0;
    bool negative = false;
    for (int k = 0; k < n_; ++k) {
        if (e[k] < 0.0) {
            negative = true;
            f = std::min(f, p[k] / (p[k] - e[k]));
        }
    }
    if (!negative) return false;
    for (int k = 0; k < n_; ++k) {
        const double delta = (e[k] - p[k]) * f;
        const double moved = p[k] + delta;
        p[k] = 1e-8 * std::fabs(delta) > std::fabs(moved) ? 0.0 : moved;
    }
    return true;
}

/// The held unknown (p = 0) whose gradient points most into the feasible side, or -1
/// when none does; `last`, the one released just before, is not considered.
int GramNnls::ToRelease(const double* b, const double* p, int last) const {
    // Zero terms change neither the sum nor its largest term: only the non-zeros count.
    int nonzero[kMaxOrder];
    int m = 0;
    for (int i = 0; i < n_; ++i)
        if (p[i] != 0.0) nonzero[m++] = i;
    // The largest magnitude among b(k), the terms and the partial sums of row k.
    const auto largest = [&](const double* gk, double bk) {
        double s = 0.0;
        double big = std::fabs(bk);
        for (int i = 0; i < m; ++i) {
            const double prod = gk[nonzero[i]] * p[nonzero[i]];
            big = std::max(big, std::fabs(prod));
            s += prod;
            big = std::max(big, std::fabs(s));
        }
        return big;
    };
    int t = -1;
    double best = 0.0;
    for (int k = 0; k < n_; ++k) {
        if (p[k] != 0.0 || k == last) continue;
        const double* gk = &g_[static_cast<size_t>(k) * n_];
        double s = 0.0;
        for (int i = 0; i < m; ++i) s += gk[nonzero[i]] * p[nonzero[i]];
        s -= b[k];
        // Only a gradient into the feasible side frees k; one small against its largest
        // term is rounding and counts as zero.
        if (!(s < 0.0) || tolerance_ * largest(gk, b[k]) > -s) continue;
        const double q = s / gk[k];
        if (q < best) {
            best = q;
            t = k;
        }
    }
    return t;
}

/// The final values by elimination of the free set's equations (the held unknowns'
/// rows and columns cleared but for their diagonal), accepted only where they keep
/// the free set final.
bool GramNnls::Eliminate(uint32_t set, const double* b, double* p, int last) {
    const int n = n_;
    if (!bordered_.Dimensioned() || bordered_.UBound1() != n) bordered_.Redim(n, n);
    for (int r = 1; r <= n; ++r) {
        const bool held = !(set & (1u << (r - 1)));
        bordered_.At(r, 0) = held ? 0.0 : b[r - 1];
        for (int c = 1; c <= n; ++c) {
            const bool cleared = c != r && (held || !(set & (1u << (c - 1))));
            bordered_.At(r, c) = cleared ? 0.0 : G(r - 1, c - 1);
        }
    }
    int16_t status = 0;
    try {
        SolveSystem(status, static_cast<int16_t>(n), bordered_);
    } catch (const RuntimeError&) {
        return false; // the caller's own method meets the overflow again and reports it
    }
    if (status != 0) return false;
    for (int k = 0; k < n; ++k) e_[k] = bordered_.At(k + 1, 0);
    for (int k = 0; k < n; ++k)
        if (!(e_[k] >= 0.0)) return false;
    std::copy(e_.begin(), e_.end(), p);
    return ToRelease(b, p, last) < 0;
}

bool GramNnls::Solve(const double* b, double* p) {
    // Each step frees or holds an unknown; far more than that is a cycle of roundings.
    const int maxSteps = 4 * n_ + 8;
    uint32_t set = Support(p, n_);
    int last = -1;
    for (int step = 0; step < maxSteps; ++step) {
        const Block* f = BlockOf(set);
        if (f == nullptr) return false;
        if (!SolveFree(*f, b, e_.data())) return false;
        if (StepToBoundary(e_.data(), p)) {
            set = Support(p, n_);
            continue;
        }
        std::copy(e_.begin(), e_.end(), p);
        const int t = ToRelease(b, p, last);
        if (t < 0) return condition_ <= kFactorLimit || Eliminate(set, b, p, last);
        set = Support(p, n_) | 1u << t;
        last = t;
    }
    return false;
}

} // namespace lumora
