#pragma once

#include <cassert>
#include <cstddef>

namespace netrevia::numeric {

// Column-major view of a caller-owned array: element (i, j), 1-based as in the formulas,
// is data[(i-1) + (j-1)*ld]. The view owns nothing; ld is the row count of the caller's
// array, which may exceed the rows a routine works on.
template <class T>  // double, const double, int
struct ColMajorRef {
    T* data;
    int ld;  // column stride: row count of the caller's array, >= the rows in use
    constexpr T& operator()(int i, int j) const noexcept {
        assert(1 <= i && i <= ld && 1 <= j);
        return data[(i - 1) + std::ptrdiff_t{j - 1} * ld];
    }
    // Column j as a plain pointer to its first element, for whole-column loops.
    constexpr T* column(int j) const noexcept { return data + std::ptrdiff_t{j - 1} * ld; }
};

// 1-based view of a vector: x(i) is data[i - 1].
template <class T>
struct VecRef {
    T* data;
    constexpr T& operator()(int i) const noexcept {
        assert(1 <= i);
        return data[i - 1];
    }
};

using MatrixRef = ColMajorRef<double>;
using ConstMatrixRef = ColMajorRef<const double>;
using VectorRef = VecRef<double>;
using ConstVectorRef = VecRef<const double>;
using IntVectorRef = VecRef<int>;

}  // namespace netrevia::numeric
