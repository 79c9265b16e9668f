// The residual measures of a point set, against values worked out by hand.

#include "geo/Residuals.h"

#include "FitTestPoints.h"

#include <cmath>

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
