#include "geo/Residuals.h"

#include "geo/GeoFit.h"

#include <algorithm>
#include <cmath>

namespace {

/// The point's pixel as the fit reads it: column from the left, row from the top.
QPointF PixelOf(const CDataGeo& point, int width, int height)
{
    return {point.PixelColumn(width), point.PixelRow(height)};
}

} // namespace

ResidualAnalysis AnalyseResiduals(const std::vector<CDataGeo>& points, int width, int height, bool leaveOneOut)
{
    ResidualAnalysis analysis;
    const GeoFitResult fit = ComputeGeoFit(points, width, height, GeoCoefficients{}, 0);
    if (!fit.m_FittedModel)
        return analysis;
    const GeoModel model(*fit.m_FittedModel);
    analysis.m_Model = model;
    analysis.m_bAccepted = fit.m_Outcome == GeoFitOutcome::Accepted;
    analysis.m_dThreshold = fit.m_dThreshold.value_or(0.0);
    analysis.m_dLargest = fit.m_dAccuracy.value_or(0.0);

    double sumOfSquares = 0.0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const CDataGeo& point = points[i];
        const double latitude = point.LatitudeDegrees();
        const double longitude = point.LongitudeDegrees();
        const QPointF pixel = PixelOf(point, width, height);
        PointResidual residual;
        const QPointF landed = model.Forward(latitude, longitude);
        residual.m_dDx = landed.x() - pixel.x();
        residual.m_dDy = landed.y() - pixel.y();
        residual.m_dArcSeconds = fit.m_dResiduals[i];
        residual.m_bOverThreshold = residual.m_dArcSeconds > analysis.m_dThreshold;
        if (const std::optional<GeoPosition> back = model.Inverse(pixel.x(), pixel.y()))
            residual.m_dGroundMetres = GreatCircleDistance(latitude, longitude,
                                                           // the model's extrapolation can pass a pole
                                                           std::clamp(back->m_dLatitude, -90.0, 90.0), back->m_dLongitude);
        sumOfSquares += residual.m_dGroundMetres * residual.m_dGroundMetres;

        if (leaveOneOut) {
            std::vector<CDataGeo> others = points;
            others.erase(others.begin() + static_cast<std::ptrdiff_t>(i));
            const GeoFitResult without = ComputeGeoFit(others, width, height, GeoCoefficients{}, 0);
            if (without.m_FittedModel)
                if (const std::optional<GeoPosition> back = GeoModel(*without.m_FittedModel).Inverse(pixel.x(), pixel.y()))
                    residual.m_dLeaveOneOut = std::max(std::fabs(back->m_dLatitude - latitude),
                                                       std::fabs(back->m_dLongitude - longitude)) *
                                              CDataGeo::kArcSecondsPerDegree;
        }
        analysis.m_Points.push_back(residual);
    }
    analysis.m_dRmsMetres = points.empty() ? 0.0 : std::sqrt(sumOfSquares / static_cast<double>(points.size()));
    return analysis;
}

ResidualAnalysis AnalyseResiduals(const GeoCodingChoice& choice, const std::vector<CDataGeo>& points, int width,
                                  int height, bool leaveOneOut)
{
    if (choice.IsDefault())
        return AnalyseResiduals(points, width, height, leaveOneOut);
    ResidualAnalysis analysis;
    const GeoFitResult fit = ComputeGeoFit(choice, points, width, height, GeoCoefficients{}, 0);
    analysis.m_strRefusal = fit.m_strRefusal;
    const GeoCodingAnalysis chosen = GeoCoding::Analyse(choice.m_eTransform, choice.m_FitCrs,
                                                        GeoControlPoints(points, width, height), leaveOneOut);
    if (!fit.m_FittedModel || !chosen.m_GeoCoding)
        return analysis;
    analysis.m_Model = GeoModel(*fit.m_FittedModel);
    analysis.m_bAccepted = fit.m_Outcome == GeoFitOutcome::Accepted;
    analysis.m_dThreshold = fit.m_dThreshold.value_or(0.0);
    analysis.m_dLargest = fit.m_dAccuracy.value_or(0.0);
    analysis.m_dRmsMetres = chosen.m_dRmsMetres;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const TransformationResidual& own = chosen.m_Points[i];
        PointResidual residual;
        residual.m_dDx = own.m_dDx;
        residual.m_dDy = own.m_dDy;
        residual.m_dGroundMetres = own.m_dGroundMetres;
        residual.m_dArcSeconds = fit.m_dResiduals[i];
        residual.m_bOverThreshold = residual.m_dArcSeconds > analysis.m_dThreshold;
        if (own.m_LeaveOneOutLanded)
            if (const std::optional<GeoPosition> back = chosen.m_GeoCoding->GroundToGeo(*own.m_LeaveOneOutLanded))
                residual.m_dLeaveOneOut = std::max(std::fabs(back->m_dLatitude - points[i].LatitudeDegrees()),
                                                   std::fabs(LongitudeNear(back->m_dLongitude, points[i].LongitudeDegrees()) -
                                                             points[i].LongitudeDegrees())) *
                                          CDataGeo::kArcSecondsPerDegree;
        analysis.m_Points.push_back(residual);
    }
    return analysis;
}
