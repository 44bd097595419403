#include "selection/weighted_median.h"

namespace netrevia::selection {

// On the piece between v(i-1) and v(i), f(x) = Q x + P with
//   Q = sum_{j<i} c(j) - sum_{j>=i} c(j),   P = sum_{j>=i} c(j) v(j) - sum_{j<i} c(j) v(j).
// Each piece proposes one point: its root when the root lies inside the piece, otherwise the
// end towards which f falls (the left end when Q >= 0, so a flat piece proposes its left end).
void weighted_median(
    int N, double& x_star, double& f_star, numeric::ConstVectorRef c, numeric::ConstVectorRef v) {
    // Left piece, x <= v(1): f = S - W x, whose root is the weighted mean M.
    double S = 0.0;
    double W = 0.0;
    for (int j = 1; j <= N; ++j) {
        S += c(j) * v(j);
        W += c(j);
    }
    const double M = S / W;  // all weights zero: M is NaN, and so is the result
    x_star = M;
    f_star = 0.0;
    if (M > v(1)) {
        x_star = v(1);
        f_star = S - W * v(1);
    }

    // Inner pieces, left to right; a candidate wins only when strictly better, which keeps the
    // leftmost of equally good points.
    for (int i = 2; i <= N; ++i) {
        double P = 0.0;
        double Q = 0.0;
        for (int j = 1; j <= N; ++j) {
            if (j < i) {
                P -= c(j) * v(j);
                Q += c(j);
            } else {
                P += c(j) * v(j);
                Q -= c(j);
            }
        }
        const double d = -P / Q;
        double point = 0.0;
        double value = 0.0;
        if (v(i - 1) < d && d <= v(i)) {
            point = d;
            value = 0.0;
        } else {
            // Q = 0 makes d infinite or NaN and fails the test above: a flat piece proposes its
            // left end.
            point = Q < 0.0 ? v(i) : v(i - 1);
            value = Q * point + P;
        }
        if (value < f_star) {
            x_star = point;
            f_star = value;
        }
    }

    // Right piece, x >= v(N): f = W x - S, whose root is again M.
    double point = M;
    double value = 0.0;
    if (M < v(N)) {
        point = v(N);
        value = W * v(N) - S;
    }
    if (value < f_star) {
        x_star = point;
        f_star = value;
    }
}

}  // namespace netrevia::selection
