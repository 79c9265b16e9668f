#pragma once
// The geo-coding model: sixteen stored coefficients c0 to c15 of which six are used,
//   column = c0 * lat + c1 * lon + c3,   row = c4 * lat + c5 * lon + c7,
// latitude and longitude in decimal degrees, column from the picture's left edge and row from
// its top edge (continuous pixel coordinates). The other ten slots are carried through files as
// they are.

#include "geo/CDataGeo.h"
#include "geo/Geodesy.h"

#include <QPointF>

#include <array>
#include <optional>

using GeoCoefficients = std::array<double, 16>;

class GeoModel {
public:
    GeoModel() = default;
    explicit GeoModel(const GeoCoefficients& coefficients) : m_dCoef(coefficients) {}

    /// A model from its six working numbers (the other slots zero). The fit also uses this for
    /// its model in its own units, so that the one inverse below serves both.
    static GeoModel FromAffine(double columnPerLat, double columnPerLon, double column0, double rowPerLat,
                               double rowPerLon, double row0);

    const GeoCoefficients& Coefficients() const { return m_dCoef; }

    /// c0 * c5 - c1 * c4: zero when the model folds the globe onto a line.
    double Determinant() const { return m_dCoef[0] * m_dCoef[5] - m_dCoef[1] * m_dCoef[4]; }
    /// The model can be inverted (a determinant that is neither zero nor NaN).
    bool IsInvertible() const;

    /// Whether the model can belong to a map of width x height pixels at all: every slot a
    /// number, at most a billion pixels to a degree (a tenth of a millimetre on the ground), and,
    /// when it can be inverted, the picture's corners no further than 180 degrees of latitude and
    /// 540 of longitude from the origin (an extrapolated corner may pass a pole or the
    /// antimeridian, not wrap round the earth). A model that cannot be inverted is judged by
    /// IsInvertible alone.
    bool CanDescribeMap(int width, int height) const;

    /// The pixel (column, row) of a latitude and longitude.
    QPointF Forward(double latitude, double longitude) const;
    /// The latitude and longitude of pixel (column, row); nothing when the model cannot be
    /// inverted.
    std::optional<GeoPosition> Inverse(double column, double row) const;

    /// The model of a map whose frame is a plain latitude/longitude grid over a picture of
    /// width x height pixels, north up and east right: origin is the south-west corner and
    /// extent the spans (latitude, longitude) in degrees. The ten unused slots come from base.
    static GeoModel FromFrame(const GeoModel& base, const CDataGeo& origin, const CDataGeo& extent, int width,
                              int height);

    /// The same model for a cut-out of the picture whose top-left corner lies at (column, row)
    /// of the whole picture.
    GeoModel ShiftedForRange(double column, double row) const;

    /// The inverse as a pixel-to-geographic affine transform in GDAL's convention, with column
    /// and row continuous from the top-left corner of the top-left pixel:
    ///   longitude = GT0 + GT1 * column + GT2 * row,  latitude = GT3 + GT4 * column + GT5 * row.
    /// Nothing when the model cannot be inverted.
    std::optional<std::array<double, 6>> GeoTransform() const;

    friend bool operator==(const GeoModel&, const GeoModel&) = default;

private:
    GeoCoefficients m_dCoef{};
};
