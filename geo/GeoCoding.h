#pragma once
// A map's geo-coding from control points: a transformation fitted in a chosen coordinate system
// between the picture's pixels and the ground, read out in WGS 84 latitude and longitude.

#include "geo/FitCrsConversion.h"
#include "geo/TransformationResiduals.h"

#include <optional>
#include <vector>

/// A control point as typed: its WGS 84 position in degrees and its pixel (column from the left
/// edge, row from the top edge, continuous).
struct GeoControlPoint {
    double m_dLatitude = 0.0;
    double m_dLongitude = 0.0;
    double m_dColumn = 0.0;
    double m_dRow = 0.0;
};

struct GeoCodingAnalysis;

/// A transformation of a kind fitted in a coordinate system. Movable, not copyable: it owns its
/// PROJ conversion, which serves one thread at a time.
class GeoCoding {
public:
    /// Fits the kind in the system (UTM resolved to the zone of the points, Auto to the projection
    /// SearchProjection ranks first, refused with its sentence when it cannot tell) and measures every
    /// point against the fit: its pixel residual, its ground residual in metres on the WGS 84
    /// ellipsoid between the typed position and where its pixel reads out, and, when
    /// leaveOneOut is set, the same under the fit to the other points. Refused, with a sentence
    /// for the user, for a system PROJ cannot convert to, a point outside the system's domain
    /// and every set Transformation::Fit refuses.
    static GeoCodingAnalysis Analyse(TransformKind kind, const FitCrs& crs, const std::vector<GeoControlPoint>& points,
                                     bool leaveOneOut = true);

    /// The geo-coding of a map whose affine relation to latitude and longitude is known (a
    /// geotransform in GDAL's convention, x longitude and y latitude): the default model, a
    /// projection file's. Nothing when it cannot be inverted.
    static std::optional<GeoCoding> FromGeographicTransform(const std::array<double, 6>& gt);
    /// The same for a geotransform into the ground coordinates of a system (a GeoTIFF's own).
    /// Nothing when it cannot be inverted or PROJ cannot convert the system.
    static std::optional<GeoCoding> FromGeoTransform(const FitCrs& crs, const std::array<double, 6>& gt);

    TransformKind Kind() const { return m_Transformation.Kind(); }
    /// The system the fit was made in: never an unresolved UTM.
    const FitCrs& Crs() const { return m_Crs; }
    /// The WGS 84 position pixel (column, row) reads out at; nothing where there is none.
    std::optional<GeoPosition> PixelToGeo(double column, double row) const;
    /// The ground coordinates of the fit's system of pixel (column, row); nothing where there are none.
    std::optional<QPointF> PixelToGround(double column, double row) const { return m_Transformation.Forward(column, row); }
    /// The WGS 84 position of ground coordinates of the fit's system; nothing where there is none.
    std::optional<GeoPosition> GroundToGeo(const QPointF& xy) const { return m_Conversion.ToWgs84(xy); }
    /// The pixel (column, row) of a WGS 84 position; nothing where there is none.
    std::optional<QPointF> GeoToPixel(const GeoPosition& position) const;

private:
    GeoCoding(FitCrs crs, FitCrsConversion conversion, Transformation transformation)
        : m_Crs(std::move(crs)), m_Conversion(std::move(conversion)), m_Transformation(std::move(transformation))
    {
    }

    FitCrs m_Crs;
    FitCrsConversion m_Conversion;
    Transformation m_Transformation;
};

/// The outcome of GeoCoding::Analyse: the geo-coding and its residuals, or why there is none.
struct GeoCodingAnalysis {
    std::optional<GeoCoding> m_GeoCoding;
    QString m_strRefusal;                         ///< a sentence for the user; empty when fitted
    std::vector<TransformationResidual> m_Points; ///< in entry order; empty when refused
    double m_dRmsMetres = 0.0;                    ///< root mean square of the ground residuals
};
