#include "geo/GeoCoding.h"

#include "geo/ProjectionSearch.h"
#include "platform/DisplayText.h"

#include <limits>

GeoCodingAnalysis GeoCoding::Analyse(TransformKind kind, const FitCrs& crs, const std::vector<GeoControlPoint>& points,
                                     bool leaveOneOut)
{
    GeoCodingAnalysis result;
    std::vector<GeoPosition> positions;
    for (const GeoControlPoint& p : points)
        positions.push_back({p.m_dLatitude, p.m_dLongitude});
    FitCrs resolved = crs.Resolved(positions);
    if (crs.GetKind() == FitCrs::Kind::Auto) {
        // The search's winner is the system, kept as its PROJ string like any system defined so.
        const ProjectionSearchResult search = SearchProjection(points);
        if (search.m_Candidates.empty()) {
            result.m_strRefusal = search.m_strRefusal;
            return result;
        }
        resolved = *FitCrs::Parse(search.m_Candidates.front().m_strCrs);
    }
    std::optional<FitCrsConversion> conversion = FitCrsConversion::Create(resolved, &result.m_strRefusal);
    if (!conversion)
        return result;

    std::vector<TiePoint> ties;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::optional<QPointF> xy = conversion->ToFit(positions[i]);
        if (!xy) {
            result.m_strRefusal = QStringLiteral("Control point %1 lies outside the coordinate system \"%2\".")
                                      .arg(i + 1)
                                      .arg(DisplayText(resolved.Text(), 80));
            return result;
        }
        ties.push_back({points[i].m_dColumn, points[i].m_dRow, xy->x(), xy->y()});
    }

    // Ground residuals are measured on the ellipsoid whatever the system, so that they compare
    // between systems; in latitude and longitude no conversion is needed.
    const FitCrsConversion& toWgs84 = *conversion;
    const GroundDistance onEllipsoid = [&toWgs84](const QPointF& a, const QPointF& b) {
        const std::optional<GeoPosition> p = toWgs84.ToWgs84(a);
        const std::optional<GeoPosition> q = toWgs84.ToWgs84(b);
        if (!p || !q)
            return std::numeric_limits<double>::infinity();
        return GeodesicGroundDistance({p->m_dLongitude, p->m_dLatitude}, {q->m_dLongitude, q->m_dLatitude});
    };
    TransformationAnalysis analysis =
        AnalyseTransformation(kind, ties, resolved.GetKind() == FitCrs::Kind::Geographic ? GroundDistance(GeodesicGroundDistance)
                                                                                           : onEllipsoid,
                              leaveOneOut);
    if (!analysis.m_Fit.m_Transformation) {
        result.m_strRefusal = analysis.m_Fit.m_strRefusal;
        return result;
    }
    result.m_GeoCoding.emplace(GeoCoding(std::move(resolved), std::move(*conversion), *analysis.m_Fit.m_Transformation));
    result.m_Points = std::move(analysis.m_Points);
    result.m_dRmsMetres = analysis.m_dRmsMetres;
    return result;
}

std::optional<GeoCoding> GeoCoding::FromGeographicTransform(const std::array<double, 6>& gt)
{
    return FromGeoTransform(FitCrs{}, gt);
}

std::optional<GeoCoding> GeoCoding::FromGeoTransform(const FitCrs& crs, const std::array<double, 6>& gt)
{
    std::optional<Transformation> affine = Transformation::FromGeoTransform(gt);
    std::optional<FitCrsConversion> conversion = FitCrsConversion::Create(crs);
    if (!affine || !conversion)
        return std::nullopt;
    return GeoCoding(crs, std::move(*conversion), std::move(*affine));
}

std::optional<GeoPosition> GeoCoding::PixelToGeo(double column, double row) const
{
    const std::optional<QPointF> xy = m_Transformation.Forward(column, row);
    return xy ? m_Conversion.ToWgs84(*xy) : std::nullopt;
}

std::optional<QPointF> GeoCoding::GeoToPixel(const GeoPosition& position) const
{
    const std::optional<QPointF> xy = m_Conversion.ToFit(position);
    return xy ? m_Transformation.Inverse(xy->x(), xy->y()) : std::nullopt;
}
