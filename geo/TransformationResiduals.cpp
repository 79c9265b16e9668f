#include "geo/TransformationResiduals.h"

#include "geo/Geodesy.h"

#include <algorithm>
#include <cmath>

double GeodesicGroundDistance(const QPointF& a, const QPointF& b)
{
    // A transformation's extrapolation can pass a pole; the distance then counts from the pole.
    return GreatCircleDistance(std::clamp(a.y(), -90.0, 90.0), a.x(), std::clamp(b.y(), -90.0, 90.0), b.x());
}

TransformationAnalysis AnalyseTransformation(TransformKind kind, const std::vector<TiePoint>& points,
                                             const GroundDistance& distance, bool leaveOneOut)
{
    TransformationAnalysis analysis;
    analysis.m_Fit = Transformation::Fit(kind, points);
    if (!analysis.m_Fit.m_Transformation)
        return analysis;
    const Transformation& fitted = *analysis.m_Fit.m_Transformation;

    // A kind fitted by linear least squares gives every point's fit to the others from the fit to
    // all of them; points that decide much of the fit at themselves are fitted without in full.
    constexpr double kLargestDerivedLeverage = 0.5;
    const bool othersFit = points.size() > static_cast<std::size_t>(MinimumPoints(kind));
    const std::optional<std::vector<std::pair<double, double>>> leverages =
        leaveOneOut && othersFit ? Transformation::Leverages(kind, points) : std::nullopt;

    double sumOfSquares = 0.0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const TiePoint& p = points[i];
        const QPointF ground(p.m_dX, p.m_dY);
        TransformationResidual residual;
        // Fit checked that every point is carried both ways.
        const QPointF pixel = *fitted.Inverse(p.m_dX, p.m_dY);
        residual.m_dDx = pixel.x() - p.m_dColumn;
        residual.m_dDy = pixel.y() - p.m_dRow;
        residual.m_Landed = *fitted.Forward(p.m_dColumn, p.m_dRow);
        residual.m_dGroundMetres = distance(residual.m_Landed, ground);
        sumOfSquares += residual.m_dGroundMetres * residual.m_dGroundMetres;

        // With fewer others than the kind needs there is no fit without the point.
        if (!leaveOneOut || !othersFit) {
        } else if (leverages && (*leverages)[i].first <= kLargestDerivedLeverage &&
                   (*leverages)[i].second <= kLargestDerivedLeverage) {
            const auto [fromPixel, fromGround] = (*leverages)[i];
            const QPointF landed = ground + (residual.m_Landed - ground) / (1.0 - fromPixel);
            residual.m_LeaveOneOutLanded = landed;
            residual.m_dLeaveOneOutMetres = distance(landed, ground);
            residual.m_dLeaveOneOutPixels = std::hypot(residual.m_dDx, residual.m_dDy) / (1.0 - fromGround);
        } else {
            std::vector<TiePoint> others = points;
            others.erase(others.begin() + static_cast<std::ptrdiff_t>(i));
            if (const std::optional<Transformation> without = Transformation::Fit(kind, others).m_Transformation) {
                if (const std::optional<QPointF> landed = without->Forward(p.m_dColumn, p.m_dRow)) {
                    residual.m_LeaveOneOutLanded = landed;
                    residual.m_dLeaveOneOutMetres = distance(*landed, ground);
                }
                if (const std::optional<QPointF> back = without->Inverse(p.m_dX, p.m_dY))
                    residual.m_dLeaveOneOutPixels = std::hypot(back->x() - p.m_dColumn, back->y() - p.m_dRow);
            }
        }
        analysis.m_Points.push_back(residual);
    }
    analysis.m_dRmsMetres = std::sqrt(sumOfSquares / static_cast<double>(points.size()));
    return analysis;
}
