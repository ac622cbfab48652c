#include "linalg/FactorAnalysis.h"

#include "base/Constants.h"
#include "base/RuntimeError.h"
#include "linalg/LinearAlgebra.h"

#include <cmath>

namespace lumora {

namespace {

bool Valid(double a) {
    return a < kMissingLimit;
}

} // namespace

void WeightedCovariance(int nSol, int nWl, const Mat<double>& absM, const Vec<float>& solWeight,
                        Vec<double>& mean, Mat<double>& cov) {
    mean.Redim(nSol);
    cov.Redim(nSol, nSol);
    for (int j = 1; j <= nSol; ++j) {
        double sum = 0.0;
        int cnt = 0;
        for (int w = 1; w <= nWl; ++w)
            if (Valid(absM(j, w))) {
                sum += absM(j, w);
                ++cnt;
            }
        // A solution without any valid absorbance has no common wavelength with any other.
        mean(j) = cnt > 0 ? sum / cnt : 0.0;
    }
    for (int i = 1; i <= nSol; ++i) {
        for (int j = i; j <= nSol; ++j) {
            // The weights are stored as floats; their product is one too.
            const float product = solWeight(i) * solWeight(j);
            const double w = CheckedSqrt(product);
            if (w == 0.0) continue;
            double sum = 0.0;
            int cnt = 0;
            for (int k = 1; k <= nWl; ++k) {
                const double a = absM(i, k);
                const double b = absM(j, k);
                if (Valid(a) && Valid(b)) {
                    sum += (a - mean(i)) * (b - mean(j)) * w;
                    ++cnt;
                }
            }
            if (cnt == 0) continue;
            const double v = CheckFinite(sum * nWl / cnt);
            cov(i, j) = v;
            cov(j, i) = v;
        }
    }
}

FactorResult AnalyzeFactors(int nSol, int nWl, const Mat<double>& absM,
                            const Vec<float>& solWeight) {
    FactorResult r;
    const int n = nSol > 0 ? nSol : 0;
    r.n = static_cast<int16_t>(n);
    Vec<double> mean;
    Mat<double> cov;
    WeightedCovariance(n, nWl, absM, solWeight, mean, cov);
    r.mean.assign(mean.Data(), mean.Data() + mean.Size());
    if (n > 0) SymmetricEigen(static_cast<int16_t>(n), cov);

    r.eigenvalues.assign(static_cast<size_t>(n) + 1, 0.0);
    double magnitude = 0.0;
    for (int k = 1; k <= n; ++k) {
        r.eigenvalues[k] = cov(0, k);
        magnitude += std::fabs(cov(0, k));
    }
    // An exactly rank-deficient matrix leaves eigenvalues of the size of the rounding
    // error; they must count as zero, not as a tiny error that the indicator adores.
    const double zero = 1e-12 * magnitude;

    std::vector<double> indicator(static_cast<size_t>(n) + 1, 0.0);
    std::vector<double> realError(static_cast<size_t>(n) + 1, 0.0);
    int c = n;
    double s = 0.0;
    double best = 0.0;
    int nf = 0;
    for (int k = n; k >= 1; --k) {
        s += r.eigenvalues[k]; // from the smallest up
        const int m = c + 1 - k;
        if (s <= zero) {
            --c; // this eigenvalue is no column of the data
            continue;
        }
        // The real error per absorbance: the covariance sums run over nWl wavelengths.
        const double re = CheckedSqrt(CheckedDiv(s, static_cast<double>(m) * nWl));
        const int f = k - 1;
        realError[f] = re;
        const double rev = CheckedDiv(static_cast<double>(m) * m, re);
        indicator[f] = rev;
        if (rev > best) {
            best = rev;
            nf = f;
        }
    }
    r.c = static_cast<int16_t>(c);
    r.nf = static_cast<int16_t>(nf);
    r.indicator.assign(indicator.begin(), indicator.begin() + c);
    r.realError.assign(realError.begin(), realError.begin() + c);
    r.analyzable = c >= 2 && nf < c;
    return r;
}

} // namespace lumora
