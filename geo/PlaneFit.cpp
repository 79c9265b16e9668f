#include "geo/PlaneFit.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

/// A matrix that moves points to their centroid and scales them to a mean distance of sqrt(2)
/// from it, and its inverse: the fits work on such points, so that pixels in the thousands and
/// degrees near one weigh alike and the equations stay well conditioned.
std::optional<std::pair<Homography, Homography>> Normalising(const std::vector<QPointF>& points)
{
    QPointF centre;
    for (const QPointF& p : points)
        centre += p / static_cast<double>(points.size());
    double meanDistance = 0.0;
    for (const QPointF& p : points)
        meanDistance += std::hypot(p.x() - centre.x(), p.y() - centre.y()) / static_cast<double>(points.size());
    if (!(meanDistance > 0.0) || !std::isfinite(meanDistance))
        return std::nullopt;
    const double s = std::sqrt(2.0) / meanDistance;
    return std::pair{Homography{s, 0, -s * centre.x(), 0, s, -s * centre.y(), 0, 0, 1},
                     Homography{1 / s, 0, centre.x(), 0, 1 / s, centre.y(), 0, 0, 1}};
}

double Determinant(const Homography& m)
{
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) + m[2] * (m[3] * m[7] - m[4] * m[6]);
}

} // namespace

std::optional<QPointF> ApplyHomography(const Homography& m, const QPointF& p)
{
    const double w = m[6] * p.x() + m[7] * p.y() + m[8];
    const double x = (m[0] * p.x() + m[1] * p.y() + m[2]) / w;
    const double y = (m[3] * p.x() + m[4] * p.y() + m[5]) / w;
    if (w == 0.0 || !std::isfinite(x) || !std::isfinite(y))
        return std::nullopt;
    return QPointF(x, y);
}

Homography Multiply(const Homography& left, const Homography& right)
{
    Homography product{};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k)
                product[r * 3 + c] += left[r * 3 + k] * right[k * 3 + c];
    return product;
}

std::optional<Homography> FitSimilarity(const std::vector<QPointF>& from, const std::vector<QPointF>& to)
{
    const double n = static_cast<double>(from.size());
    QPointF fromMean, toMean;
    for (std::size_t i = 0; i < from.size(); ++i) {
        fromMean += from[i] / n;
        toMean += to[i] / n;
    }
    // With both sets centred the shift drops out and the normal equations of x' = a x - b y,
    // y' = b x + a y separate into two quotients.
    double spread = 0.0, sumA = 0.0, sumB = 0.0;
    for (std::size_t i = 0; i < from.size(); ++i) {
        const QPointF u = from[i] - fromMean, t = to[i] - toMean;
        spread += u.x() * u.x() + u.y() * u.y();
        sumA += u.x() * t.x() + u.y() * t.y();
        sumB += u.x() * t.y() - u.y() * t.x();
    }
    const double a = sumA / spread, b = sumB / spread;
    if (!std::isfinite(a) || !std::isfinite(b) || a * a + b * b == 0.0)
        return std::nullopt;
    return Homography{a, -b, toMean.x() - a * fromMean.x() + b * fromMean.y(),
                      b, a,  toMean.y() - b * fromMean.x() - a * fromMean.y(),
                      0, 0,  1};
}

std::optional<Homography> FitHomography(const std::vector<QPointF>& from, const std::vector<QPointF>& to)
{
    const auto source = Normalising(from);
    const auto target = Normalising(to);
    if (!source || !target)
        return std::nullopt;
    const std::size_t n = from.size();
    std::vector<QPointF> u(n), t(n);
    for (std::size_t i = 0; i < n; ++i) {
        u[i] = *ApplyHomography(source->first, from[i]);
        t[i] = *ApplyHomography(target->first, to[i]);
    }

    // The direct linear solution with the last entry fixed at 1 (the centroids, at the origin,
    // correspond, so that entry is not zero), then Gauss-Newton steps on the distances themselves.
    // With the direct solution as the starting point the second set of equations is the first
    // one's with every row divided by its divisor and the residual measured in the target plane.
    std::vector<double> h(8, 0.0);
    for (int pass = 0; pass < 20; ++pass) {
        std::vector<double> a, b;
        a.reserve(16 * n);
        for (std::size_t i = 0; i < n; ++i) {
            const double x = u[i].x(), y = u[i].y();
            const double w = pass == 0 ? 1.0 : h[6] * x + h[7] * y + 1.0;
            const double px = pass == 0 ? t[i].x() : (h[0] * x + h[1] * y + h[2]) / w;
            const double py = pass == 0 ? t[i].y() : (h[3] * x + h[4] * y + h[5]) / w;
            a.insert(a.end(), {x / w, y / w, 1 / w, 0, 0, 0, -px * x / w, -px * y / w});
            a.insert(a.end(), {0, 0, 0, x / w, y / w, 1 / w, -py * x / w, -py * y / w});
            b.push_back(t[i].x() - (pass == 0 ? 0.0 : px));
            b.push_back(t[i].y() - (pass == 0 ? 0.0 : py));
        }
        const std::optional<std::vector<double>> step = SolveLeastSquares(std::move(a), std::move(b), 8);
        if (!step)
            return std::nullopt;
        double largest = 0.0;
        for (int k = 0; k < 8; ++k) {
            h[static_cast<std::size_t>(k)] += (*step)[static_cast<std::size_t>(k)];
            largest = std::max(largest, std::fabs((*step)[static_cast<std::size_t>(k)]));
        }
        if (pass > 0 && largest < 1e-13)
            break;
    }
    const Homography normalised{h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7], 1.0};
    // Normalised points of a usable fit give a matrix whose determinant is near one in size.
    if (!(std::fabs(Determinant(normalised)) > 1e-9))
        return std::nullopt;
    return Multiply(target->second, Multiply(normalised, source->first));
}

namespace {

/// Householder triangularisation of the m x k matrix a (row by row) in place, applying the same
/// reflections to b when given: a's upper triangle becomes R of a = Q R. Returns the largest pivot
/// in magnitude, or nothing when a column's norm is not finite.
std::optional<double> Triangularise(std::vector<double>& a, std::size_t m, std::size_t k, std::vector<double>* b)
{
    auto at = [&](std::size_t r, std::size_t c) -> double& { return a[r * k + c]; };
    double largestPivot = 0.0;
    for (std::size_t j = 0; j < k; ++j) {
        double norm = 0.0;
        for (std::size_t r = j; r < m; ++r)
            norm += at(r, j) * at(r, j);
        norm = std::sqrt(norm);
        if (!std::isfinite(norm))
            return std::nullopt;
        const double alpha = at(j, j) > 0 ? -norm : norm;
        // The reflection v = column - alpha e_j, applied as x -= 2 (v.x / v.v) v.
        std::vector<double> v(m - j);
        for (std::size_t r = j; r < m; ++r)
            v[r - j] = at(r, j);
        v[0] -= alpha;
        double vv = 0.0;
        for (double e : v)
            vv += e * e;
        if (vv > 0.0) {
            auto reflect = [&](auto&& element) {
                double dot = 0.0;
                for (std::size_t r = j; r < m; ++r)
                    dot += v[r - j] * element(r);
                for (std::size_t r = j; r < m; ++r)
                    element(r) -= 2 * dot / vv * v[r - j];
            };
            for (std::size_t c = j; c < k; ++c)
                reflect([&](std::size_t r) -> double& { return at(r, c); });
            if (b)
                reflect([&](std::size_t r) -> double& { return (*b)[r]; });
        }
        largestPivot = std::max(largestPivot, std::fabs(at(j, j)));
    }
    return largestPivot;
}

} // namespace

std::optional<std::vector<double>> SolveLeastSquares(std::vector<double> a, std::vector<double> b, int columns,
                                                     double tolerance)
{
    const std::size_t m = b.size(), k = static_cast<std::size_t>(columns);
    if (m < k)
        return std::nullopt;
    const std::optional<double> largestPivot = Triangularise(a, m, k, &b);
    if (!largestPivot)
        return std::nullopt;
    auto at = [&](std::size_t r, std::size_t c) -> double& { return a[r * k + c]; };
    std::vector<double> x(k, 0.0);
    for (std::size_t j = k; j-- > 0;) {
        if (!(std::fabs(at(j, j)) > tolerance * *largestPivot))
            return std::nullopt;
        double sum = b[j];
        for (std::size_t c = j + 1; c < k; ++c)
            sum -= at(j, c) * x[c];
        x[j] = sum / at(j, j);
    }
    return x;
}

std::optional<std::vector<double>> Leverages(const std::vector<double>& a, int columns)
{
    const std::size_t k = static_cast<std::size_t>(columns), m = a.size() / k;
    if (m < k)
        return std::nullopt;
    std::vector<double> r = a;
    const std::optional<double> largestPivot = Triangularise(r, m, k, nullptr);
    if (!largestPivot)
        return std::nullopt;
    for (std::size_t j = 0; j < k; ++j)
        if (!(std::fabs(r[j * k + j]) > 1e-12 * *largestPivot))
            return std::nullopt;
    // With a = Q R the hat matrix is Q Q^T, so row i's leverage is |z|^2 for R^T z = a_i: the
    // squared norm of the row in the orthonormal basis of the columns, without forming a^T a.
    std::vector<double> leverages(m), z(k);
    for (std::size_t i = 0; i < m; ++i) {
        double sum = 0.0;
        for (std::size_t j = 0; j < k; ++j) {
            double value = a[i * k + j];
            for (std::size_t c = 0; c < j; ++c)
                value -= r[c * k + j] * z[c];
            z[j] = value / r[j * k + j];
            sum += z[j] * z[j];
        }
        leverages[i] = sum;
    }
    return leverages;
}
