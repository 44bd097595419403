#include "inference/dataset_solution.h"

#include <cstddef>
#include <utility>

#include "numeric/svdcmp.h"

namespace netrevia::inference {

namespace {

using numeric::MatrixRef;
using numeric::VectorRef;

// Moves the largest singular values to the end, largest last, swapping the matching columns of
// U (rows 1..m) and B alike. At most m moves: a (m x n) state matrix has at most m nonzero
// singular values. The first of equal maxima moves first. The values left at the front keep no
// particular order.
void reorder_singular_values(VectorRef w, MatrixRef U, MatrixRef B, int m, int n) {
    double wmax = w(1);
    for (int i = 2; i <= n; ++i) {
        if (w(i) > wmax) wmax = w(i);
    }
    if (!(wmax > 0.0)) return;

    int L = n;
    for (int p = 1; p <= m; ++p) {
        int q = 1;
        for (int i = 2; i <= L; ++i) {
            if (w(i) > w(q)) q = i;
        }
        if (q != L) {
            std::swap(w(q), w(L));
            for (int r = 1; r <= m; ++r) std::swap(U(r, q), U(r, L));
            for (int r = 1; r <= n; ++r) std::swap(B(r, q), B(r, L));
        }
        --L;
        // Another move only when a positive value stands before position L; otherwise w(L) is
        // already the largest of w(1..L).
        bool positive_before = false;
        for (int i = 1; i <= L - 1; ++i) {
            if (w(i) > 0.0) {
                positive_before = true;
                break;
            }
        }
        if (!positive_before) return;
    }
}

}  // namespace

int solve_dataset(int n,
                  int T,
                  const std::vector<double>& t,
                  std::vector<double>& Y,
                  numeric::MatrixRef J0,
                  numeric::MatrixRef B,
                  const numeric::Notify& notify) {
    const int m = T - 1;  // intervals, rows of the state matrix
    const std::size_t un = static_cast<std::size_t>(n);
    const std::size_t um = static_cast<std::size_t>(m);
    const MatrixRef Yr{Y.data(), T};

    // Rates of change by forward differences, attributed to the left end of each interval.
    std::vector<double> D_store(un * um);
    const MatrixRef D{D_store.data(), n};
    for (int j = 1; j <= m; ++j) {
        const double h = t[static_cast<std::size_t>(j)] - t[static_cast<std::size_t>(j - 1)];
        for (int i = 1; i <= n; ++i) D(i, j) = (Yr(j + 1, i) - Yr(j, i)) / h;
    }

    // State matrix A = rows 1..T-1 of Y (stride T): A = U diag(w) V^T, U in place of A. V goes
    // straight into B, whose columns are reordered below.
    std::vector<double> w_store(un);
    const VectorRef w{w_store.data()};
    numeric::svdcmp(Yr, m, n, w, B, notify);
    const MatrixRef U = Yr;

    reorder_singular_values(w, U, B, m, n);

    std::vector<double> winv_store(un);
    const VectorRef winv{winv_store.data()};
    int z = 0;
    for (int i = 1; i <= n; ++i) {
        if (w(i) <= kZeroSingularValue) {
            winv(i) = 0.0;
            ++z;
        } else {
            winv(i) = 1.0 / w(i);
        }
    }

    // Transposed truncated pseudo-inverse: P(j,r) = sum_i U(j,i) winv(i) B(r,i), i ascending.
    // The terms with winv(i) = 0 are +-0 (U and B are finite) and adding a zero to a sum that
    // starts at +0 never changes it, so only the at most m directions with winv(i) > 0 are
    // visited: bit for bit the same sum in O(m^2 n) instead of O(m n^2).
    std::vector<int> nonzero;
    for (int i = 1; i <= n; ++i) {
        if (winv(i) != 0.0) nonzero.push_back(i);
    }
    std::vector<double> P_store(um * un);
    const MatrixRef P{P_store.data(), m};
    for (int r = 1; r <= n; ++r) {
        for (int j = 1; j <= m; ++j) {
            double s = 0.0;
            for (const int i : nonzero) s += U(j, i) * winv(i) * B(r, i);
            P(j, r) = s;
        }
    }

    // Minimum-norm least-squares solution of J A^T = D: J0 = D P.
    for (int a = 1; a <= n; ++a) {
        for (int b = 1; b <= n; ++b) {
            double s = 0.0;
            for (int j = 1; j <= m; ++j) s += D(a, j) * P(j, b);
            J0(a, b) = s;
        }
    }
    return z;
}

}  // namespace netrevia::inference
