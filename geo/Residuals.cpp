#include "geo/Residuals.h"

#include "geo/GeoFit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kArcSecondsPerDegree = 3600.0;

/// Haversine distance in metres on a sphere of the earth's mean radius.
double GroundDistance(double latitude1, double longitude1, double latitude2, double longitude2)
{
    const double toRadians = std::numbers::pi / 180.0;
    const double dPhi = (latitude2 - latitude1) * toRadians;
    const double dLambda = (longitude2 - longitude1) * toRadians;
    const double a = std::sin(dPhi / 2) * std::sin(dPhi / 2) + std::cos(latitude1 * toRadians) *
                                                                   std::cos(latitude2 * toRadians) *
                                                                   std::sin(dLambda / 2) * std::sin(dLambda / 2);
    return 2 * std::atan2(std::sqrt(a), std::sqrt(1 - a)) * kMeanEarthRadius;
}

/// The point's pixel as the fit reads it: column from the left, row from the top.
QPointF PixelOf(const CDataGeo& point, int width, int height)
{
    return {width * point.m_dImageX, (1.0 - point.m_dImageY) * height};
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
        const double latitude = point.m_dLatitude / kArcSecondsPerDegree;
        const double longitude = point.m_dLongitude / kArcSecondsPerDegree;
        const QPointF pixel = PixelOf(point, width, height);
        PointResidual residual;
        const QPointF landed = model.Forward(latitude, longitude);
        residual.m_dDx = landed.x() - pixel.x();
        residual.m_dDy = landed.y() - pixel.y();
        residual.m_dArcSeconds = fit.m_dResiduals[i];
        residual.m_bOverThreshold = residual.m_dArcSeconds > analysis.m_dThreshold;
        if (const std::optional<GeoPosition> back = model.Inverse(pixel.x(), pixel.y()))
            residual.m_dGroundMetres = GroundDistance(latitude, longitude, back->m_dLatitude, back->m_dLongitude);
        sumOfSquares += residual.m_dGroundMetres * residual.m_dGroundMetres;

        if (leaveOneOut) {
            std::vector<CDataGeo> others = points;
            others.erase(others.begin() + static_cast<std::ptrdiff_t>(i));
            const GeoFitResult without = ComputeGeoFit(others, width, height, GeoCoefficients{}, 0);
            if (without.m_FittedModel)
                if (const std::optional<GeoPosition> back = GeoModel(*without.m_FittedModel).Inverse(pixel.x(), pixel.y()))
                    residual.m_dLeaveOneOut = std::max(std::fabs(back->m_dLatitude - latitude),
                                                       std::fabs(back->m_dLongitude - longitude)) *
                                              kArcSecondsPerDegree;
        }
        analysis.m_Points.push_back(residual);
    }
    analysis.m_dRmsMetres = points.empty() ? 0.0 : std::sqrt(sumOfSquares / static_cast<double>(points.size()));
    return analysis;
}
