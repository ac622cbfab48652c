#pragma once
// Arrays that carry their own bounds (0..n), index 0 included: "redim" discards,
// "redim preserve" keeps the overlapping contents, and every checked access raises
// "Subscript out of range".

#include "base/RuntimeError.h"

#include <algorithm>
#include <vector>

namespace lumora {

template <class T> class Vec {
public:
    Vec() = default;
    explicit Vec(int n) { Redim(n); }

    /// Size to 0..n, every element reset. n < 0 leaves the array undimensioned.
    void Redim(int n) { data_.assign(n >= 0 ? static_cast<size_t>(n) + 1 : 0, T{}); }
    /// Size to 0..n keeping the elements that remain in range.
    void RedimPreserve(int n) { data_.resize(n >= 0 ? static_cast<size_t>(n) + 1 : 0, T{}); }
    /// Undimension: no elements, not even index 0.
    void Erase() { data_.clear(); }

    bool Dimensioned() const { return !data_.empty(); }
    /// Upper bound; raises "Subscript out of range" when undimensioned.
    int UBound() const {
        if (data_.empty()) throw RuntimeError(kSubscriptOutOfRange);
        return static_cast<int>(data_.size()) - 1;
    }
    int Size() const { return static_cast<int>(data_.size()); }

    T& operator()(int i) {
        if (i < 0 || static_cast<size_t>(i) >= data_.size())
            throw RuntimeError(kSubscriptOutOfRange);
        return data_[static_cast<size_t>(i)];
    }
    const T& operator()(int i) const {
        if (i < 0 || static_cast<size_t>(i) >= data_.size())
            throw RuntimeError(kSubscriptOutOfRange);
        return data_[static_cast<size_t>(i)];
    }
    void Fill(const T& v) { std::fill(data_.begin(), data_.end(), v); }

    T* Data() { return data_.data(); }
    const T* Data() const { return data_.data(); }
    std::vector<T>& Std() { return data_; }
    const std::vector<T>& Std() const { return data_; }
    bool operator==(const Vec&) const = default;

private:
    std::vector<T> data_;
};

/// Two-dimensional array (0..n1, 0..n2). The first index runs fastest in memory:
/// A(j, w) for fixed w is contiguous, which is the order of the goal function's
/// inner loops over solutions, and growing the last bound keeps the data in place.
template <class T> class Mat {
public:
    Mat() = default;
    Mat(int n1, int n2) { Redim(n1, n2); }

    void Redim(int n1, int n2) {
        if (n1 < 0 || n2 < 0) {
            Erase();
            return;
        }
        n1_ = n1;
        n2_ = n2;
        data_.assign(static_cast<size_t>(n1 + 1) * static_cast<size_t>(n2 + 1), T{});
    }
    void RedimPreserve(int n1, int n2) {
        if (!Dimensioned()) {
            Redim(n1, n2);
            return;
        }
        if (n1 == n1_) {
            data_.resize(static_cast<size_t>(n1 + 1) * static_cast<size_t>(n2 + 1), T{});
            n2_ = n2;
            return;
        }
        Mat<T> m(n1, n2);
        for (int j = 0; j <= std::min(n2, n2_); ++j)
            for (int i = 0; i <= std::min(n1, n1_); ++i) m.At(i, j) = At(i, j);
        *this = std::move(m);
    }
    void Erase() {
        data_.clear();
        n1_ = n2_ = -1;
    }

    bool Dimensioned() const { return !data_.empty(); }
    int UBound1() const {
        if (data_.empty()) throw RuntimeError(kSubscriptOutOfRange);
        return n1_;
    }
    int UBound2() const {
        if (data_.empty()) throw RuntimeError(kSubscriptOutOfRange);
        return n2_;
    }

    T& operator()(int i, int j) {
        Check(i, j);
        return At(i, j);
    }
    const T& operator()(int i, int j) const {
        Check(i, j);
        return At(i, j);
    }
    /// Unchecked access for inner loops whose bounds were checked once.
    T& At(int i, int j) { return data_[Offset(i, j)]; }
    const T& At(int i, int j) const { return data_[Offset(i, j)]; }
    void Fill(const T& v) { std::fill(data_.begin(), data_.end(), v); }

    T* Data() { return data_.data(); }
    const T* Data() const { return data_.data(); }
    bool operator==(const Mat&) const = default;

private:
    void Check(int i, int j) const {
        if (i < 0 || j < 0 || i > n1_ || j > n2_) throw RuntimeError(kSubscriptOutOfRange);
    }
    size_t Offset(int i, int j) const {
        return static_cast<size_t>(j) * static_cast<size_t>(n1_ + 1) + static_cast<size_t>(i);
    }
    std::vector<T> data_;
    int n1_ = -1;
    int n2_ = -1;
};

} // namespace lumora
