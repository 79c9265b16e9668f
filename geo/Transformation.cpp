#include "geo/Transformation.h"

#include <cpl_error.h>
#include <gdal_alg.h>

#include <algorithm>
#include <cmath>

namespace {

struct KindRow {
    TransformKind m_eKind;
    const char* m_pszName;
    const char* m_pszTitle; ///< as messages name it
    int m_nMinimum;
    int m_nOrder; ///< the library's polynomial order; 0 for the spline and for our own kinds
};

// Affine keeps the six points the geo-coding fit has always asked for, though three determine it.
constexpr KindRow kKinds[] = {
    {TransformKind::Affine, "affine", "affine", 6, 1},
    {TransformKind::Helmert, "helmert", "Helmert", 2, 0},
    {TransformKind::Projective, "projective", "projective", 4, 0},
    {TransformKind::Poly2, "poly2", "second-order polynomial", 6, 2},
    {TransformKind::Poly3, "poly3", "third-order polynomial", 10, 3},
    {TransformKind::Tps, "tps", "thin-plate spline", 3, 0},
};

const KindRow& RowOf(TransformKind kind)
{
    return *std::find_if(std::begin(kKinds), std::end(kKinds), [kind](const KindRow& r) { return r.m_eKind == kind; });
}

/// Whether the points, seen through position, lie on one line: the smaller spread of their
/// scatter about the centroid is nothing against the larger one.
template <class Position>
bool OnOneLine(const std::vector<TiePoint>& points, Position position, double tolerance = 1e-12)
{
    QPointF centre;
    for (const TiePoint& p : points)
        centre += position(p) / static_cast<double>(points.size());
    double xx = 0.0, yy = 0.0, xy = 0.0;
    for (const TiePoint& p : points) {
        const QPointF d = position(p) - centre;
        xx += d.x() * d.x();
        yy += d.y() * d.y();
        xy += d.x() * d.y();
    }
    // The determinant over the squared trace is about the ratio of the two spreads.
    return xx * yy - xy * xy <= tolerance * (xx + yy) * (xx + yy);
}

/// The first pair of points at the same position, numbered from 1; positions closer than a
/// billionth of the points' extent count as the same. Only points whose x lie that close are
/// compared, found in the order of x, so that a large set is not compared pair by pair.
template <class Position>
std::optional<std::pair<int, int>> SamePosition(const std::vector<TiePoint>& points, Position position)
{
    QPointF low = position(points.front()), high = low;
    for (const TiePoint& p : points) {
        low = {std::min(low.x(), position(p).x()), std::min(low.y(), position(p).y())};
        high = {std::max(high.x(), position(p).x()), std::max(high.y(), position(p).y())};
    }
    const double extent = std::max(high.x() - low.x(), high.y() - low.y());
    std::vector<std::size_t> order(points.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return position(points[a]).x() < position(points[b]).x(); });
    std::optional<std::pair<std::size_t, std::size_t>> first;
    for (std::size_t s = 0; s < order.size(); ++s)
        for (std::size_t t = s + 1; t < order.size(); ++t) {
            const QPointF d = position(points[order[t]]) - position(points[order[s]]);
            if (!(d.x() <= 1e-9 * extent))
                break;
            if (std::fabs(d.y()) <= 1e-9 * extent) {
                const std::pair<std::size_t, std::size_t> pair{std::min(order[s], order[t]), std::max(order[s], order[t])};
                if (!first || pair < *first)
                    first = pair;
            }
        }
    if (!first)
        return std::nullopt;
    return std::pair{static_cast<int>(first->first) + 1, static_cast<int>(first->second) + 1};
}

QPointF PixelOf(const TiePoint& p)
{
    return {p.m_dColumn, p.m_dRow};
}
QPointF GroundOf(const TiePoint& p)
{
    return {p.m_dX, p.m_dY};
}

/// Why the points cannot carry a transformation of the kind; nothing when they can be tried.
std::optional<QString> Refusal(const KindRow& row, const std::vector<TiePoint>& points)
{
    const QString title = QString::fromLatin1(row.m_pszTitle);
    if (static_cast<int>(points.size()) < row.m_nMinimum)
        return QStringLiteral("The %1 transformation needs at least %2 control points, and the map has %3.")
            .arg(title)
            .arg(row.m_nMinimum)
            .arg(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const TiePoint& p = points[i];
        if (!std::isfinite(p.m_dColumn) || !std::isfinite(p.m_dRow) || !std::isfinite(p.m_dX) || !std::isfinite(p.m_dY))
            return QStringLiteral("Control point %1 has a position that is not a number.").arg(i + 1);
    }
    if (const auto same = SamePosition(points, PixelOf))
        return QStringLiteral("Control points %1 and %2 are at the same place on the map.").arg(same->first).arg(same->second);
    if (const auto same = SamePosition(points, GroundOf))
        return QStringLiteral("Control points %1 and %2 have the same coordinates.").arg(same->first).arg(same->second);
    // A similarity is fixed by two points anywhere; every other kind needs the plane spanned.
    if (row.m_eKind != TransformKind::Helmert) {
        if (OnOneLine(points, PixelOf))
            return QStringLiteral("The control points lie on one line of the map; the %1 transformation needs them spread over it.")
                .arg(title);
        if (OnOneLine(points, GroundOf))
            return QStringLiteral("The control points' coordinates lie on one line; the %1 transformation needs them spread over the map.")
                .arg(title);
    }
    return std::nullopt;
}

/// The terms of a polynomial of the order in the positions' two coordinates, row by row, on the
/// positions centred and scaled so that the terms of every degree weigh alike.
std::vector<double> PolynomialTerms(int order, const std::vector<QPointF>& positions)
{
    QPointF centre;
    for (const QPointF& p : positions)
        centre += p / static_cast<double>(positions.size());
    double scale = 0.0;
    for (const QPointF& p : positions)
        scale = std::max({scale, std::fabs(p.x() - centre.x()), std::fabs(p.y() - centre.y())});
    std::vector<double> terms;
    for (const QPointF& p : positions) {
        const double u = (p.x() - centre.x()) / scale, v = (p.y() - centre.y()) / scale;
        for (int degree = 0; degree <= order; ++degree)
            for (int k = 0; k <= degree; ++k)
                terms.push_back(std::pow(u, degree - k) * std::pow(v, k));
    }
    return terms;
}

int TermCount(int order)
{
    return (order + 1) * (order + 2) / 2;
}

/// Whether a polynomial of the order in the positions' two coordinates is fixed by its values at
/// them. Six points on one conic, for one, leave a second-order polynomial free; the library's
/// normal equations then yield huge numbers rather than a refusal, so the terms are checked here,
/// on positions centred and scaled, with a margin for the squaring the normal equations bring.
bool TermsDetermined(int order, const std::vector<QPointF>& positions, double tolerance = 1e-7)
{
    return SolveLeastSquares(PolynomialTerms(order, positions), std::vector<double>(positions.size(), 0.0),
                             TermCount(order), tolerance)
        .has_value();
}

/// The leverage of each position in the least-squares fit of a similarity from them: with the
/// positions centred the normal equations are diagonal, and both coordinates of a point share
/// 1/n + |d|^2 / (sum of |d|^2 over the points).
std::vector<double> SimilarityLeverages(const std::vector<QPointF>& positions)
{
    const double n = static_cast<double>(positions.size());
    QPointF centre;
    for (const QPointF& p : positions)
        centre += p / n;
    double spread = 0.0;
    for (const QPointF& p : positions)
        spread += QPointF::dotProduct(p - centre, p - centre);
    std::vector<double> leverages;
    leverages.reserve(positions.size());
    for (const QPointF& p : positions)
        leverages.push_back(1.0 / n + QPointF::dotProduct(p - centre, p - centre) / spread);
    return leverages;
}

/// Row flip: the similarity keeps the map's north up the rows, so it is fitted between the ground
/// and (column, -row), in which both planes turn the same way.
constexpr Homography kFlipRows{1, 0, 0, 0, -1, 0, 0, 0, 1};

} // namespace

QString TransformKindName(TransformKind kind)
{
    return QString::fromLatin1(RowOf(kind).m_pszName);
}

std::optional<TransformKind> ParseTransformKind(const QString& name)
{
    for (const KindRow& row : kKinds)
        if (name.compare(QLatin1String(row.m_pszName), Qt::CaseInsensitive) == 0)
            return row.m_eKind;
    return std::nullopt;
}

int MinimumPoints(TransformKind kind)
{
    return RowOf(kind).m_nMinimum;
}

TransformationFit Transformation::Fit(TransformKind kind, const std::vector<TiePoint>& points)
{
    const KindRow& row = RowOf(kind);
    if (std::optional<QString> why = Refusal(row, points))
        return {std::nullopt, *why};
    const QString undetermined =
        QStringLiteral("The control points do not determine a %1 transformation; spread them more evenly over the map.")
            .arg(QString::fromLatin1(row.m_pszTitle));

    Transformation fitted(kind);
    std::vector<QPointF> pixels, ground;
    for (const TiePoint& p : points) {
        pixels.push_back(kind == TransformKind::Helmert ? QPointF(p.m_dColumn, -p.m_dRow) : PixelOf(p));
        ground.push_back(GroundOf(p));
    }
    if (kind == TransformKind::Helmert || kind == TransformKind::Projective) {
        const auto fit = kind == TransformKind::Helmert ? FitSimilarity : FitHomography;
        const std::optional<Homography> forward = fit(pixels, ground);
        const std::optional<Homography> inverse = fit(ground, pixels);
        if (!forward || !inverse)
            return {std::nullopt, undetermined};
        fitted.m_dForward = kind == TransformKind::Helmert ? Multiply(*forward, kFlipRows) : *forward;
        fitted.m_dInverse = kind == TransformKind::Helmert ? Multiply(kFlipRows, *inverse) : *inverse;
    } else {
        if (row.m_nOrder > 1 && !(TermsDetermined(row.m_nOrder, pixels) && TermsDetermined(row.m_nOrder, ground)))
            return {std::nullopt, undetermined};
        if (!fitted.FitWithLibrary(row.m_nOrder, points))
            return {std::nullopt, undetermined};
    }
    // A spline through nearly collinear points can be solved into numbers that are not finite, and
    // a projective fit to bad points can put one of them on its horizon.
    for (const TiePoint& p : points)
        if (!fitted.Forward(p.m_dColumn, p.m_dRow) || !fitted.Inverse(p.m_dX, p.m_dY))
            return {std::nullopt, undetermined};
    return {fitted, {}};
}

std::optional<std::vector<std::pair<double, double>>> Transformation::Leverages(TransformKind kind,
                                                                              const std::vector<TiePoint>& points)
{
    const KindRow& row = RowOf(kind);
    if (kind == TransformKind::Projective || kind == TransformKind::Tps || Refusal(row, points))
        return std::nullopt;
    std::vector<QPointF> pixels, ground;
    for (const TiePoint& p : points) {
        pixels.push_back(PixelOf(p));
        ground.push_back(GroundOf(p));
    }
    std::vector<double> fromPixels, fromGround;
    if (kind == TransformKind::Helmert) {
        fromPixels = SimilarityLeverages(pixels);
        fromGround = SimilarityLeverages(ground);
    } else {
        // Leaving out a point of leverage at most one half keeps at least half of the scatter's
        // determinant and of a polynomial's smallest pivots; sets that would still come near a
        // refusal are fitted in full.
        if (OnOneLine(points, PixelOf, 4e-12) || OnOneLine(points, GroundOf, 4e-12))
            return std::nullopt;
        if (row.m_nOrder > 1 && !(TermsDetermined(row.m_nOrder, pixels, 1e-5) && TermsDetermined(row.m_nOrder, ground, 1e-5)))
            return std::nullopt;
        std::optional<std::vector<double>> p = ::Leverages(PolynomialTerms(row.m_nOrder, pixels), TermCount(row.m_nOrder));
        std::optional<std::vector<double>> g = ::Leverages(PolynomialTerms(row.m_nOrder, ground), TermCount(row.m_nOrder));
        if (!p || !g)
            return std::nullopt;
        fromPixels = std::move(*p);
        fromGround = std::move(*g);
    }
    std::vector<std::pair<double, double>> leverages(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        leverages[i] = {fromPixels[i], fromGround[i]};
    return leverages;
}

bool Transformation::FitWithLibrary(int order, const std::vector<TiePoint>& points)
{
    // The library's transformers, which the field's warping tools use: each polynomial is fitted
    // both ways by least squares, the spline solved both ways through every point.
    std::vector<GDAL_GCP> gcps(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        gcps[i].pszId = const_cast<char*>("");
        gcps[i].pszInfo = const_cast<char*>("");
        gcps[i].dfGCPPixel = points[i].m_dColumn;
        gcps[i].dfGCPLine = points[i].m_dRow;
        gcps[i].dfGCPX = points[i].m_dX;
        gcps[i].dfGCPY = points[i].m_dY;
        gcps[i].dfGCPZ = 0.0;
    }
    void* handle = nullptr;
    {
        // An unsolvable set is told to the user in our words; the library's own text goes nowhere.
        CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
        const int count = static_cast<int>(gcps.size());
        handle = order == 0 ? GDALCreateTPSTransformer(count, gcps.data(), FALSE)
                            : GDALCreateGCPTransformer(count, gcps.data(), order, FALSE);
    }
    if (!handle)
        return false;
    m_pLibrary = std::shared_ptr<void>(handle, GDALDestroyTransformer);
    return true;
}

namespace {

std::optional<QPointF> UseLibrary(void* handle, bool groundToPixel, QPointF from)
{
    double x = from.x(), y = from.y(), z = 0.0;
    int success = FALSE;
    if (!GDALUseTransformer(handle, groundToPixel ? TRUE : FALSE, 1, &x, &y, &z, &success) || !success ||
        !std::isfinite(x) || !std::isfinite(y))
        return std::nullopt;
    return QPointF(x, y);
}

} // namespace

std::optional<Transformation> Transformation::FromGeoTransform(const std::array<double, 6>& gt)
{
    const double determinant = gt[1] * gt[5] - gt[2] * gt[4];
    if (!std::isfinite(determinant) || determinant == 0.0)
        return std::nullopt;
    Transformation affine(TransformKind::Affine);
    affine.m_dForward = {gt[1], gt[2], gt[0], gt[4], gt[5], gt[3], 0.0, 0.0, 1.0};
    const double a = gt[5] / determinant, b = -gt[2] / determinant;
    const double d = -gt[4] / determinant, e = gt[1] / determinant;
    affine.m_dInverse = {a, b, -(a * gt[0] + b * gt[3]), d, e, -(d * gt[0] + e * gt[3]), 0.0, 0.0, 1.0};
    return affine;
}

std::optional<QPointF> Transformation::Forward(double column, double row) const
{
    if (m_pLibrary)
        return UseLibrary(m_pLibrary.get(), false, {column, row});
    return ApplyHomography(m_dForward, {column, row});
}

std::optional<QPointF> Transformation::Inverse(double x, double y) const
{
    if (m_pLibrary)
        return UseLibrary(m_pLibrary.get(), true, {x, y});
    return ApplyHomography(m_dInverse, {x, y});
}
