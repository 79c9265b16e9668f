#pragma once
// Least-squares fits of plane-to-plane maps that act on homogeneous coordinates: the similarity
// (Helmert) and the homography (projective), each from one point set onto another.

#include <QPointF>

#include <array>
#include <optional>
#include <vector>

/// A 3 x 3 matrix, row by row, acting on homogeneous coordinates (x, y, 1).
using Homography = std::array<double, 9>;

/// The image of point under the matrix; nothing on its horizon (a zero or non-finite divisor).
std::optional<QPointF> ApplyHomography(const Homography& matrix, const QPointF& point);
/// The product left * right (right acts first).
Homography Multiply(const Homography& left, const Homography& right);

/// The similarity (shift, one scale, rotation) that takes from[i] nearest to to[i] in the least
/// squares sense. Nothing when the source points all coincide.
std::optional<Homography> FitSimilarity(const std::vector<QPointF>& from, const std::vector<QPointF>& to);

/// The homography that takes from[i] nearest to to[i]: the smallest sum of squared distances in
/// the target plane, reached from the normalised direct linear solution by Gauss-Newton steps.
/// At least four pairs. Nothing when the points determine no invertible homography.
std::optional<Homography> FitHomography(const std::vector<QPointF>& from, const std::vector<QPointF>& to);

/// The x minimising |a x - b| for a matrix a of b.size() rows and the given number of columns,
/// row by row, by Householder reflections. Nothing when the columns are dependent: when a pivot
/// is no more than tolerance times the largest one (by default, to within the rounding of doubles).
std::optional<std::vector<double>> SolveLeastSquares(std::vector<double> a, std::vector<double> b, int columns,
                                                     double tolerance = 1e-12);

/// The leverage of each row of the least-squares fit with the matrix a (a.size() / columns rows of
/// the given number of columns, row by row): the diagonal of its hat matrix, between 0 and 1, how
/// much a row's own value decides the fitted value at it. A point left out of the fit lands its
/// residual divided by 1 - leverage away. Nothing when the columns are dependent.
std::optional<std::vector<double>> Leverages(const std::vector<double>& a, int columns);
