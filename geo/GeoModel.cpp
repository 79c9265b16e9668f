#include "geo/GeoModel.h"

#include <cmath>

GeoModel GeoModel::FromAffine(double columnPerLat, double columnPerLon, double column0, double rowPerLat,
                              double rowPerLon, double row0)
{
    GeoModel model;
    model.m_dCoef[0] = columnPerLat;
    model.m_dCoef[1] = columnPerLon;
    model.m_dCoef[3] = column0;
    model.m_dCoef[4] = rowPerLat;
    model.m_dCoef[5] = rowPerLon;
    model.m_dCoef[7] = row0;
    return model;
}

bool GeoModel::IsInvertible() const
{
    return std::fabs(Determinant()) > 0.0;
}

bool GeoModel::CanDescribeMap(int width, int height) const
{
    constexpr double kMaxPixelsPerDegree = 1e9;
    constexpr double kMaxCornerLatitude = 180.0;
    constexpr double kMaxCornerLongitude = 540.0;
    for (double c : m_dCoef)
        if (!std::isfinite(c))
            return false;
    for (std::size_t i : {0, 1, 4, 5})
        if (std::fabs(m_dCoef[i]) > kMaxPixelsPerDegree)
            return false;
    if (!IsInvertible())
        return true;
    for (const QPointF corner : {QPointF(0, 0), QPointF(width, 0), QPointF(0, height), QPointF(width, height)}) {
        const std::optional<GeoPosition> at = Inverse(corner.x(), corner.y());
        if (!at || !(std::fabs(at->m_dLatitude) <= kMaxCornerLatitude) ||
            !(std::fabs(at->m_dLongitude) <= kMaxCornerLongitude))
            return false;
    }
    return true;
}

QPointF GeoModel::Forward(double latitude, double longitude) const
{
    const GeoCoefficients& c = m_dCoef;
    return {c[0] * latitude + c[1] * longitude + c[3], c[4] * latitude + c[5] * longitude + c[7]};
}

std::optional<GeoPosition> GeoModel::Inverse(double column, double row) const
{
    if (!IsInvertible())
        return std::nullopt;
    const GeoCoefficients& c = m_dCoef;
    const double g = Determinant();
    const double p = column - c[3];
    const double q = row - c[7];
    return GeoPosition{(c[5] / g) * p - (c[1] / g) * q, -(c[4] / g) * p + (c[0] / g) * q};
}

GeoModel GeoModel::FromFrame(const GeoModel& base, const CDataGeo& origin, const CDataGeo& extent, int width,
                             int height)
{
    GeoModel model = base;
    const double w = width;
    const double h = height;
    const double latS = origin.m_dLatitude;
    const double lonW = origin.m_dLongitude;
    const double dLat = extent.m_dLatitude;
    const double dLon = extent.m_dLongitude;
    model.m_dCoef[0] = 0.0;
    model.m_dCoef[1] = w / dLon;
    model.m_dCoef[3] = -lonW * w / dLon;
    model.m_dCoef[4] = -h / dLat;
    model.m_dCoef[5] = 0.0;
    model.m_dCoef[7] = (latS + dLat) * h / dLat;
    return model;
}

GeoModel GeoModel::ShiftedForRange(double column, double row) const
{
    GeoModel model = *this;
    model.m_dCoef[3] -= column;
    model.m_dCoef[7] -= row;
    return model;
}

std::optional<std::array<double, 6>> GeoModel::GeoTransform() const
{
    if (!IsInvertible())
        return std::nullopt;
    const GeoCoefficients& c = m_dCoef;
    const double g = Determinant();
    // [lat, lon] = M^-1 ([column, row] - [c3, c7]) with M = [[c0, c1], [c4, c5]].
    return std::array<double, 6>{(c[4] * c[3] - c[0] * c[7]) / g, -c[4] / g, c[0] / g,
                                 (c[1] * c[7] - c[5] * c[3]) / g, c[5] / g, -c[1] / g};
}
