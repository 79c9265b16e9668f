// The residual measures of a point set, against values worked out by hand.

#include "geo/Residuals.h"
#include "geo/TransformationResiduals.h"

#include "FitTestPoints.h"

#include <cmath>
#include <numeric>

#include <gtest/gtest.h>

namespace {

/// The 3 x 3 grid of PerturbedGrid, exact, with point index moved by (rowShift, columnShift) pixels.
std::vector<CDataGeo> GridWithOneMoved(const PerturbedGrid& grid, int index, double rowShift, double columnShift)
{
    std::vector<CDataGeo> points = grid.Points(0.0, 0.0);
    points[static_cast<std::size_t>(index)].m_dImageX += columnShift / grid.Width();
    points[static_cast<std::size_t>(index)].m_dImageY -= rowShift / grid.Height();
    return points;
}

/// The least-squares coefficients of values on rows of terms, by the normal equations solved
/// with Gauss-Jordan elimination: a second opinion on the fit to the other points.
std::vector<double> DirectFit(const std::vector<std::vector<double>>& rows, const std::vector<double>& values)
{
    const std::size_t k = rows.front().size();
    std::vector<std::vector<double>> m(k, std::vector<double>(k + 1, 0.0));
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t i = 0; i < k; ++i) {
            for (std::size_t j = 0; j < k; ++j)
                m[i][j] += rows[r][i] * rows[r][j];
            m[i][k] += rows[r][i] * values[r];
        }
    for (std::size_t i = 0; i < k; ++i)
        for (std::size_t r = 0; r < k; ++r)
            if (r != i)
                for (std::size_t j = k + 1; j-- > i;)
                    m[r][j] -= m[r][i] / m[i][i] * m[i][j];
    std::vector<double> x(k);
    for (std::size_t i = 0; i < k; ++i)
        x[i] = m[i][k] / m[i][i];
    return x;
}

/// Where the fit of the kind from one side of the points to the other, without point left, takes
/// the position at. The positions are moved and scaled to about a unit square first.
QPointF RefitAt(TransformKind kind, const std::vector<QPointF>& from, const std::vector<QPointF>& to, std::size_t left,
                QPointF at)
{
    const auto terms = [&](QPointF p) -> std::vector<double> {
        p = (p - from[0]) / std::hypot(from[1].x() - from[0].x(), from[1].y() - from[0].y());
        if (kind == TransformKind::Helmert) // x' = a x - b y + tx; y' = b x + a y + ty from the turned rows
            return {p.x(), -p.y(), 1, 0};
        return kind == TransformKind::Affine ? std::vector<double>{1, p.x(), p.y()}
                                             : std::vector<double>{1, p.x(), p.y(), p.x() * p.x(), p.x() * p.y(), p.y() * p.y()};
    };
    std::vector<std::vector<double>> rows, turned;
    std::vector<double> xs, ys;
    for (std::size_t i = 0; i < from.size(); ++i)
        if (i != left) {
            rows.push_back(terms(from[i]));
            turned.push_back({-rows.back()[1], rows.back()[0], 0, 1});
            xs.push_back(to[i].x());
            ys.push_back(to[i].y());
        }
    const std::vector<double> t = terms(at);
    const auto apply = [&](const std::vector<double>& c) { return std::inner_product(c.begin(), c.end(), t.begin(), 0.0); };
    if (kind != TransformKind::Helmert)
        return {apply(DirectFit(rows, xs)), apply(DirectFit(rows, ys))};
    rows.insert(rows.end(), turned.begin(), turned.end());
    xs.insert(xs.end(), ys.begin(), ys.end());
    const std::vector<double> c = DirectFit(rows, xs);
    return {apply(c), c[1] * t[0] - c[0] * t[1] + c[3]};
}

} // namespace

TEST(Residuals, MeasuresOfAGridWithOnePointMoved)
{
    // One pixel is one arc-second on this grid (3600 pixels per degree both ways).
    const PerturbedGrid grid;
    const struct {
        const char* name;
        int moved;
        double rowShift, columnShift;
        double movedResidual;  ///< arc-seconds, all nine fitted: the shift less its leverage share
        double movedLeaveOneOut; ///< arc-seconds: the other eight are exact, so the whole shift
        double tolerance;        ///< arc-seconds
        double groundMetres; ///< on the WGS 84 ellipsoid, as PROJ's geod measures it
    } cases[] = {
        // The centre's leverage in a 3 x 3 grid is 1/9, and moving it shifts only the model's
        // offsets. A corner's leverage is 1/9 + 1/6 + 1/6 = 4/9; moving it also tilts the model
        // a little, so the residual in degrees is the pixel one to within a thousandth.
        {"centre down 30", 4, 30.0, 0.0, 30.0 * 8.0 / 9.0, 30.0, 1e-6, 822.549517}, // north from 40.5 N
        {"corner right 18", 0, 0.0, 18.0, 18.0 * 5.0 / 9.0, 18.0, 0.01, 237.205},  // along 40 N
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<CDataGeo> points = GridWithOneMoved(grid, c.moved, c.rowShift, c.columnShift);
        const ResidualAnalysis analysis = AnalyseResiduals(points, grid.Width(), grid.Height());
        ASSERT_TRUE(analysis.m_Model);
        ASSERT_EQ(analysis.m_Points.size(), 9u);
        const PointResidual& moved = analysis.m_Points[static_cast<std::size_t>(c.moved)];
        EXPECT_NEAR(moved.m_dArcSeconds, c.movedResidual, c.tolerance);
        // The model's pixel for the typed coordinates lies back where the point was before it moved.
        EXPECT_NEAR(moved.m_dDx, -c.columnShift * c.movedResidual / std::max(c.rowShift, c.columnShift), 1e-6);
        EXPECT_NEAR(moved.m_dDy, -c.rowShift * c.movedResidual / std::max(c.rowShift, c.columnShift), 1e-6);
        ASSERT_TRUE(moved.m_dLeaveOneOut);
        EXPECT_NEAR(*moved.m_dLeaveOneOut, c.movedLeaveOneOut, c.tolerance);
        // The moved point is the worst left out, by far.
        for (std::size_t i = 0; i < 9; ++i) {
            if (static_cast<int>(i) != c.moved) {
                EXPECT_LT(*analysis.m_Points[i].m_dLeaveOneOut, *moved.m_dLeaveOneOut / 2) << i;
            }
        }
        EXPECT_NEAR(moved.m_dGroundMetres, c.groundMetres, (c.tolerance + 1e-6) * 30.85); // 30.85 m an arc-second
        double sum = 0.0;
        for (const PointResidual& r : analysis.m_Points)
            sum += r.m_dGroundMetres * r.m_dGroundMetres;
        EXPECT_NEAR(analysis.m_dRmsMetres, std::sqrt(sum / 9.0), 1e-9);
    }
}

TEST(Residuals, LeaveOneOutNeedsSixOtherPointsAndAModelNeedsSix)
{
    const PerturbedGrid grid;
    const std::vector<CDataGeo> nine = grid.Points(0.0, 0.0);
    const struct {
        std::size_t count;
        bool model;
        bool leaveOneOut;
    } cases[] = {{5, false, false}, {6, true, false}, {7, true, true}};
    for (const auto& c : cases) {
        const std::vector<CDataGeo> points(nine.begin(), nine.begin() + static_cast<std::ptrdiff_t>(c.count));
        const ResidualAnalysis analysis = AnalyseResiduals(points, grid.Width(), grid.Height());
        EXPECT_EQ(analysis.m_Model.has_value(), c.model) << c.count;
        EXPECT_EQ(analysis.m_Points.size(), c.model ? c.count : 0u) << c.count;
        for (const PointResidual& r : analysis.m_Points)
            EXPECT_EQ(r.m_dLeaveOneOut.has_value(), c.leaveOneOut) << c.count;
    }
    // All points on one parallel: no model at all.
    std::vector<CDataGeo> flat = nine;
    for (CDataGeo& p : flat)
        p.m_dLatitude = 40.5 * 3600;
    EXPECT_FALSE(AnalyseResiduals(flat, grid.Width(), grid.Height()).m_Model);
}

TEST(Residuals, LeaveOneOutIsTheFitToTheOtherPoints)
{
    // Points scattered over a 1000 x 800 picture on a gently curved map with a pixel of noise,
    // ground in metres; "far" puts the last one far out, where it alone decides the fit's tilt.
    const struct {
        const char* name;
        std::optional<TransformKind> kind; ///< nothing: the geo-coding fit, ground in 1e5 per degree
        bool far;
        /// Relative: the geo-coding fit's sums of products are taken about the coordinates, not
        /// their means, which costs it a few digits of the residuals.
        double tolerance;
    } cases[] = {{"geo-coding fit", std::nullopt, false, 2e-8}, {"geo-coding fit, far", std::nullopt, true, 2e-8},
                 {"affine", TransformKind::Affine, false, 1e-9},  {"helmert", TransformKind::Helmert, false, 1e-9},
                 {"poly2", TransformKind::Poly2, false, 1e-9},    {"poly2, far", TransformKind::Poly2, true, 1e-9}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<QPointF> pixels, ground, flipped, latLon;
        std::vector<TiePoint> ties;
        std::vector<CDataGeo> points;
        for (int k = 0; k < 14; ++k) {
            const double col = 1000 * std::fmod(k * 0.618034 + 0.05, 1.0), row = 800 * std::fmod(k * 0.754878 + 0.1, 1.0);
            pixels.push_back(c.far && k == 13 ? QPointF(6000, 5200) : QPointF(col + std::sin(k * 7.0), row + std::cos(k * 3.0)));
            ground.push_back(c.far && k == 13 ? QPointF(4e5, -2.5e5) : QPointF(col * 67 + row * 3 + col * col * 2e-4, col * 2.5 - row * 50));
        }
        for (std::size_t j = 0; j < pixels.size(); ++j) {
            flipped.push_back(c.kind == TransformKind::Helmert ? QPointF(pixels[j].x(), -pixels[j].y()) : pixels[j]);
            ties.push_back({pixels[j].x(), pixels[j].y(), ground[j].x(), ground[j].y()});
            latLon.push_back(QPointF(41, 10) + QPointF(ground[j].y(), ground[j].x()) / 1e5);
            points.push_back(CDataGeo::FromDegrees(latLon[j].x(), latLon[j].y(), pixels[j].x() / 1000, 1 - pixels[j].y() / 800));
        }
        const auto planar = [](const QPointF& a, const QPointF& b) { return std::hypot(a.x() - b.x(), a.y() - b.y()); };
        const TransformationAnalysis analysis = AnalyseTransformation(c.kind.value_or(TransformKind::Affine), ties, planar);
        const ResidualAnalysis geoCoding = AnalyseResiduals(points, 1000, 800);
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            SCOPED_TRACE(i);
            if (!c.kind) {
                // Pixels from (latitude, longitude), the point's pixel carried back by the slopes.
                const QPointF at = RefitAt(TransformKind::Affine, latLon, pixels, i, latLon[i]);
                const QPointF dLat = RefitAt(TransformKind::Affine, latLon, pixels, i, latLon[i] + QPointF(1, 0)) - at;
                const QPointF dLon = RefitAt(TransformKind::Affine, latLon, pixels, i, latLon[i] + QPointF(0, 1)) - at;
                const QPointF e = pixels[i] - at;
                const double expected = std::max(std::fabs(dLon.y() * e.x() - dLon.x() * e.y()), std::fabs(dLat.x() * e.y() - dLat.y() * e.x())) /
                                        std::fabs(dLat.x() * dLon.y() - dLon.x() * dLat.y()) * 3600;
                ASSERT_TRUE(geoCoding.m_Points[i].m_dLeaveOneOut);
                EXPECT_NEAR(*geoCoding.m_Points[i].m_dLeaveOneOut, expected, c.tolerance * expected);
                continue;
            }
            const double landed = planar(RefitAt(*c.kind, flipped, ground, i, flipped[i]), ground[i]);
            const double back = planar(RefitAt(*c.kind, ground, flipped, i, ground[i]), flipped[i]);
            const TransformationResidual& r = analysis.m_Points[i];
            ASSERT_TRUE(r.m_dLeaveOneOutMetres && r.m_dLeaveOneOutPixels);
            EXPECT_NEAR(*r.m_dLeaveOneOutMetres, landed, c.tolerance * landed);
            EXPECT_NEAR(*r.m_dLeaveOneOutPixels, back, c.tolerance * back);
        }
    }
}
