#include "numeric/svdcmp.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>

namespace netrevia::numeric {

namespace {

// Sweeps allowed per singular value; the last one is announced through the caller's Notify.
constexpr int kMaxSweeps = 30;

// sign(x, y) of the method: |x| with the sign of y, where a zero y of either sign counts as
// non-negative (so this is not std::copysign, which would honour -0.0).
double sign(double x, double y) { return y >= 0.0 ? std::abs(x) : -std::abs(x); }

}  // namespace

// p * sqrt(1 + (q/p)^2) with p the larger magnitude: the squared ratio is at most 1, so neither
// overflow nor destructive underflow occurs. Deliberately not std::hypot: the rotations of svdcmp
// must round exactly as this formula does on every platform.
double hypotenuse(const double& a, const double& b) {
    const double p = std::abs(a);
    const double q = std::abs(b);
    if (p > q) {
        const double ratio = q / p;
        return p * std::sqrt(1.0 + ratio * ratio);
    }
    if (q == 0.0) return 0.0;
    const double ratio = p / q;
    return q * std::sqrt(1.0 + ratio * ratio);
}

// Golub-Reinsch in four phases: Householder reduction of A to upper bidiagonal form (diagonal in
// w, superdiagonal in e), accumulation of the right-hand transformations in V, accumulation of the
// left-hand ones in A, then implicit-shift QR sweeps on the bidiagonal form from the last singular
// value to the first. The operation order below is part of the contract: results are reproduced
// bit for bit, so do not regroup expressions, fuse divisions or swap in library helpers.
void svdcmp(MatrixRef A, int m, int n, VectorRef w, MatrixRef V, const Notify& notify) {
    assert(1 <= n && n <= kSvdMaxColumns);
    assert(A.ld >= m && V.ld >= n);
    // The superdiagonal lives in a fixed local vector. When assertions are compiled out, n beyond
    // its capacity returns at once without touching A, w or V: the caller's arrays stay as given
    // rather than being half overwritten, and nothing is written past the work vector.
    if (n > kSvdMaxColumns) return;

    std::array<double, kSvdMaxColumns> e_storage{};
    const VectorRef e{e_storage.data()};

    // Shared between the phases: g and l carry over from phase 1 into phase 2.
    double g = 0.0;
    double scale = 0.0;
    double norm_bound = 0.0;
    int l = 0;

    // Phase 1: Householder reduction to bidiagonal form.
    for (int i = 1; i <= n; ++i) {
        l = i + 1;
        e(i) = scale * g;
        g = 0.0;
        double s = 0.0;
        scale = 0.0;
        if (i <= m) {  // column transformation: zero A(i+1..m, i)
            for (int k = i; k <= m; ++k) scale += std::abs(A(k, i));
            if (scale != 0.0) {  // an all-zero column part is skipped: w(i) = 0
                for (int k = i; k <= m; ++k) {
                    A(k, i) = A(k, i) / scale;
                    s = s + A(k, i) * A(k, i);
                }
                double f = A(i, i);
                g = -sign(std::sqrt(s), f);
                const double h = f * g - s;
                A(i, i) = f - g;
                for (int j = l; j <= n; ++j) {
                    s = 0.0;
                    for (int k = i; k <= m; ++k) s = s + A(k, i) * A(k, j);
                    f = s / h;
                    for (int k = i; k <= m; ++k) A(k, j) = A(k, j) + f * A(k, i);
                }
                for (int k = i; k <= m; ++k) A(k, i) = scale * A(k, i);
            }
        }
        w(i) = scale * g;
        g = 0.0;
        s = 0.0;
        scale = 0.0;
        if (i <= m && i != n) {  // row transformation: zero A(i, i+2..n)
            for (int k = l; k <= n; ++k) scale += std::abs(A(i, k));
            if (scale != 0.0) {  // an all-zero row part is skipped: e(i+1) = 0
                for (int k = l; k <= n; ++k) {
                    A(i, k) = A(i, k) / scale;
                    s = s + A(i, k) * A(i, k);
                }
                const double f = A(i, l);
                g = -sign(std::sqrt(s), f);
                const double h = f * g - s;
                A(i, l) = f - g;
                // e is scratch here; e(l) receives its final value at the next i.
                for (int k = l; k <= n; ++k) e(k) = A(i, k) / h;
                for (int j = l; j <= m; ++j) {
                    s = 0.0;
                    for (int k = l; k <= n; ++k) s = s + A(j, k) * A(i, k);
                    for (int k = l; k <= n; ++k) A(j, k) = A(j, k) + s * e(k);
                }
                for (int k = l; k <= n; ++k) A(i, k) = scale * A(i, k);
            }
        }
        // std::max keeps the bound when the new value is NaN, so a NaN entry of A cannot turn
        // every negligibility test of phase 4 false.
        norm_bound = std::max(norm_bound, std::abs(w(i)) + std::abs(e(i)));
    }

    // Phase 2: accumulation of the right-hand transformations in V. Here g = e(i + 1), which is
    // nonzero only when row i was transformed, hence i <= m: rows of A beyond m are never read.
    for (int i = n; i >= 1; --i) {
        if (i < n) {
            if (g != 0.0) {
                // Two successive divisions, in this order, not one by the product A(i,l) * g,
                // which could underflow; the rounding of this order is part of the result.
                for (int j = l; j <= n; ++j) V(j, i) = (A(i, j) / A(i, l)) / g;
                for (int j = l; j <= n; ++j) {
                    double s = 0.0;
                    for (int k = l; k <= n; ++k) s = s + A(i, k) * V(k, j);
                    for (int k = l; k <= n; ++k) V(k, j) = V(k, j) + s * V(k, i);
                }
            }
            for (int j = l; j <= n; ++j) {
                V(i, j) = 0.0;
                V(j, i) = 0.0;
            }
        }
        V(i, i) = 1.0;
        g = e(i);
        l = i;
    }

    // Phase 3: accumulation of the left-hand transformations in A, which becomes U.
    for (int i = std::min(m, n); i >= 1; --i) {
        l = i + 1;
        g = w(i);
        for (int j = l; j <= n; ++j) A(i, j) = 0.0;
        if (g != 0.0) {
            g = 1.0 / g;
            for (int j = l; j <= n; ++j) {
                double s = 0.0;
                for (int k = l; k <= m; ++k) s = s + A(k, i) * A(k, j);
                const double f = (s / A(i, i)) * g;
                for (int k = i; k <= m; ++k) A(k, j) = A(k, j) + f * A(k, i);
            }
            for (int j = i; j <= m; ++j) A(j, i) = A(j, i) * g;
        } else {
            for (int j = i; j <= m; ++j) A(j, i) = 0.0;
        }
        A(i, i) = A(i, i) + 1.0;
    }

    // Phase 4: diagonalisation of the bidiagonal form. A value is negligible when adding it leaves
    // the norm bound unchanged, by rounding: no machine-epsilon constant, no relative test
    // against neighbouring entries.
    const auto negligible = [norm_bound](double value) {
        return std::abs(value) + norm_bound == norm_bound;
    };
    for (int k = n; k >= 1; --k) {
        for (int sweep = 1; sweep <= kMaxSweeps; ++sweep) {
            // Split test. e(1) is zero, so the search ends at l = 1 at the latest; the explicit
            // l == 1 keeps w(0) out of reach whatever the data.
            bool cancel = true;
            int nm = 0;
            for (l = k; l >= 1; --l) {
                nm = l - 1;
                if (l == 1 || negligible(e(l))) {
                    cancel = false;
                    break;
                }
                if (negligible(w(nm))) break;
            }
            if (cancel) {  // w(nm) is negligible: chase e(l) off the matrix by rotations
                double c = 0.0;
                double s = 1.0;
                for (int i = l; i <= k; ++i) {
                    const double f = s * e(i);
                    e(i) = c * e(i);
                    if (negligible(f)) break;
                    g = w(i);
                    double h = hypotenuse(f, g);
                    w(i) = h;
                    h = 1.0 / h;
                    c = g * h;
                    s = -f * h;
                    for (int j = 1; j <= m; ++j) {
                        const double y = A(j, nm);
                        const double z = A(j, i);
                        A(j, nm) = y * c + z * s;
                        A(j, i) = -y * s + z * c;
                    }
                }
            }
            double z = w(k);
            if (l == k) {  // converged: make the singular value non-negative
                if (z < 0.0) {
                    w(k) = -z;
                    for (int j = 1; j <= n; ++j) V(j, k) = -V(j, k);
                }
                break;
            }
            // The last sweep is still carried out after the notice; its w(k) stays unflipped.
            if (sweep == kMaxSweeps && notify) notify("no convergence in svdcmp");

            // Shift from the bottom 2 x 2 minor.
            double x = w(l);
            nm = k - 1;
            double y = w(nm);
            g = e(nm);
            double h = e(k);
            double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
            g = hypotenuse(f, 1.0);
            f = ((x - z) * (x + z) + h * ((y / (f + sign(g, f))) - h)) / x;

            // QR sweep by plane rotations, from l to k.
            double c = 1.0;
            double s = 1.0;
            for (int j = l; j <= nm; ++j) {
                const int i = j + 1;
                g = e(i);
                y = w(i);
                h = s * g;
                g = c * g;
                z = hypotenuse(f, h);
                e(j) = z;
                c = f / z;
                s = h / z;
                f = x * c + g * s;
                g = -x * s + g * c;
                h = y * s;
                y = y * c;
                for (int row = 1; row <= n; ++row) {
                    const double p = V(row, j);
                    const double q = V(row, i);
                    V(row, j) = p * c + q * s;
                    V(row, i) = -p * s + q * c;
                }
                z = hypotenuse(f, h);
                w(j) = z;
                if (z != 0.0) {  // z = 0: c and s keep the values of the first rotation
                    z = 1.0 / z;
                    c = f * z;
                    s = h * z;
                }
                f = c * g + s * y;
                x = -s * g + c * y;
                for (int row = 1; row <= m; ++row) {
                    const double p = A(row, j);
                    const double q = A(row, i);
                    A(row, j) = p * c + q * s;
                    A(row, i) = -p * s + q * c;
                }
            }
            e(l) = 0.0;
            e(k) = f;
            w(k) = x;
        }
    }
}

}  // namespace netrevia::numeric
