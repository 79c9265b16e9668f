#include "geo/Residuals.h"

#include "geo/GeoFit.h"
#include "geo/Transformation.h"

#include <algorithm>
#include <cmath>

namespace {

/// The point's pixel as the fit reads it: column from the left, row from the top.
QPointF PixelOf(const CDataGeo& point, int width, int height)
{
    return {point.PixelColumn(width), point.PixelRow(height)};
}

/// A point left out of a least-squares fit is judged by the fit of the others; where it decided
/// more than half of the fitted value at itself, or the others come near a degenerate set, that
/// fit is made in full rather than derived, so that its refusals stay the fit's own.
constexpr double kLargestDerivedLeverage = 0.5;

/// The fit's measure of each point under the affine model fitted to all the other points, in
/// arc-seconds, derived from the fit to all of them: with the design centred on the points'
/// mean, leaving point i out moves the slopes by S^-1 d_i e_i / (1 - h_i) (S the centred scatter
/// of the coordinates, d_i the point's offset from their mean, e_i its pixel residual, h_i its
/// leverage), and the left-out model misses the point's pixel by e_i / (1 - h_i), which its slopes
/// carry back to latitude and longitude. refit measures a point by fitting the others in full.
template <class Refit>
std::vector<std::optional<double>> AffineLeaveOneOut(const std::vector<CDataGeo>& points, const GeoModel& model,
                                                     const std::vector<QPointF>& misses, Refit refit)
{
    const std::size_t n = points.size();
    std::vector<std::optional<double>> measures(n);
    if (n - 1 < static_cast<std::size_t>(MinimumPoints(TransformKind::Affine)))
        return measures;
    double meanLat = 0.0, meanLon = 0.0;
    for (const CDataGeo& p : points) {
        meanLat += p.LatitudeDegrees() / static_cast<double>(n);
        meanLon += p.LongitudeDegrees() / static_cast<double>(n);
    }
    double sxx = 0.0, syy = 0.0, sxy = 0.0;
    for (const CDataGeo& p : points) {
        const double dx = p.LatitudeDegrees() - meanLat, dy = p.LongitudeDegrees() - meanLon;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
    }
    const double det = sxx * syy - sxy * sxy;
    // The fit refuses others whose scatter determinant, in its thousandths of a degree, is 1e-8 or less.
    constexpr double kFitUnitsPerDegree4 = 1e12;
    const GeoCoefficients& c = model.Coefficients();
    for (std::size_t i = 0; i < n; ++i) {
        const double dx = points[i].LatitudeDegrees() - meanLat, dy = points[i].LongitudeDegrees() - meanLon;
        const double gx = (syy * dx - sxy * dy) / det, gy = (sxx * dy - sxy * dx) / det; // S^-1 d
        const double h = 1.0 / static_cast<double>(n) + dx * gx + dy * gy;
        const double othersDet = det * kFitUnitsPerDegree4 * static_cast<double>(n) * (1.0 - h) / static_cast<double>(n - 1);
        if (!(h <= kLargestDerivedLeverage) || !(othersDet > 1e-6)) {
            measures[i] = refit(i);
            continue;
        }
        // The pixel the left-out model gives the point's coordinates falls short by this much.
        const double eP = -misses[i].x() / (1.0 - h), eQ = -misses[i].y() / (1.0 - h);
        const double a = c[0] - gx * eP, b = c[1] - gy * eP, d = c[4] - gx * eQ, e = c[5] - gy * eQ;
        const double g = a * e - b * d;
        if (!(std::fabs(g) > 0.0) || !std::isfinite(g)) {
            measures[i] = refit(i);
            continue;
        }
        const double dLat = (e * eP - b * eQ) / g, dLon = (a * eQ - d * eP) / g;
        measures[i] = std::max(std::fabs(dLat), std::fabs(dLon)) * CDataGeo::kArcSecondsPerDegree;
    }
    return measures;
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
    std::vector<QPointF> misses;
    misses.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const CDataGeo& point = points[i];
        const double latitude = point.LatitudeDegrees();
        const double longitude = point.LongitudeDegrees();
        const QPointF pixel = PixelOf(point, width, height);
        PointResidual residual;
        const QPointF landed = model.Forward(latitude, longitude);
        residual.m_dDx = landed.x() - pixel.x();
        residual.m_dDy = landed.y() - pixel.y();
        misses.push_back({residual.m_dDx, residual.m_dDy});
        residual.m_dArcSeconds = fit.m_dResiduals[i];
        residual.m_bOverThreshold = residual.m_dArcSeconds > analysis.m_dThreshold;
        if (const std::optional<GeoPosition> back = model.Inverse(pixel.x(), pixel.y()))
            residual.m_dGroundMetres = GreatCircleDistance(latitude, longitude,
                                                           // the model's extrapolation can pass a pole
                                                           std::clamp(back->m_dLatitude, -90.0, 90.0), back->m_dLongitude);
        sumOfSquares += residual.m_dGroundMetres * residual.m_dGroundMetres;
        analysis.m_Points.push_back(residual);
    }
    if (leaveOneOut) {
        const auto refit = [&](std::size_t i) -> std::optional<double> {
            std::vector<CDataGeo> others = points;
            others.erase(others.begin() + static_cast<std::ptrdiff_t>(i));
            const GeoFitResult without = ComputeGeoFit(others, width, height, GeoCoefficients{}, 0);
            if (!without.m_FittedModel)
                return std::nullopt;
            const QPointF pixel = PixelOf(points[i], width, height);
            const std::optional<GeoPosition> back = GeoModel(*without.m_FittedModel).Inverse(pixel.x(), pixel.y());
            if (!back)
                return std::nullopt;
            return std::max(std::fabs(back->m_dLatitude - points[i].LatitudeDegrees()),
                            std::fabs(back->m_dLongitude - points[i].LongitudeDegrees())) *
                   CDataGeo::kArcSecondsPerDegree;
        };
        const std::vector<std::optional<double>> measures = AffineLeaveOneOut(points, model, misses, refit);
        for (std::size_t i = 0; i < points.size(); ++i)
            analysis.m_Points[i].m_dLeaveOneOut = measures[i];
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
