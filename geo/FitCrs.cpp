#include "geo/FitCrs.h"

#include "geo/FitCrsConversion.h"

#include <algorithm>
#include <cmath>

namespace {

const QString kGeographic = QStringLiteral("geographic");
const QString kUtm = QStringLiteral("utm");
const QString kAuto = QStringLiteral("auto");

/// The UTM zone (1 to 60) of a position, with the wider zones over south-western Norway and
/// Svalbard that the grid has there.
int UtmZone(double latitude, double longitude)
{
    const double lon = std::remainder(longitude, 360.0); // -180..180
    if (latitude >= 56.0 && latitude < 64.0 && lon >= 3.0 && lon < 12.0)
        return 32;
    if (latitude >= 72.0 && latitude < 84.0 && lon >= 0.0 && lon < 42.0)
        return lon < 9.0 ? 31 : lon < 21.0 ? 33 : lon < 33.0 ? 35 : 37;
    return std::clamp(static_cast<int>(std::floor((lon + 180.0) / 6.0)) + 1, 1, 60);
}

} // namespace

std::optional<FitCrs> FitCrs::Parse(const QString& text, QString* refusal)
{
    const QString given = text.trimmed();
    if (given.compare(kGeographic, Qt::CaseInsensitive) == 0)
        return FitCrs();
    if (given.compare(kUtm, Qt::CaseInsensitive) == 0)
        return FitCrs(Kind::Utm, QString());
    if (given.compare(kAuto, Qt::CaseInsensitive) == 0)
        return FitCrs(Kind::Auto, QString());
    FitCrs defined(Kind::Defined, given);
    if (!FitCrsConversion::Create(defined, refusal))
        return std::nullopt;
    return defined;
}

FitCrs FitCrs::UtmZoneOf(const GeoPosition& centre)
{
    const int zone = UtmZone(centre.m_dLatitude, centre.m_dLongitude);
    return FitCrs(Kind::Defined, QStringLiteral("EPSG:%1").arg((centre.m_dLatitude >= 0.0 ? 32600 : 32700) + zone));
}

QString FitCrs::Text() const
{
    switch (m_eKind) {
    case Kind::Geographic:
        return kGeographic;
    case Kind::Utm:
        return kUtm;
    case Kind::Auto:
        return kAuto;
    case Kind::Defined:
        break;
    }
    return m_strDefinition;
}

FitCrs FitCrs::Resolved(const std::vector<GeoPosition>& points) const
{
    if (m_eKind != Kind::Utm || points.empty())
        return *this;
    const auto [south, north] = std::minmax_element(points.begin(), points.end(), [](const GeoPosition& a, const GeoPosition& b) {
        return a.m_dLatitude < b.m_dLatitude;
    });
    // Longitudes counted from -180 and from 0: a map across the date line is narrower in the second.
    double west = 180.0, east = -180.0, west360 = 360.0, east360 = 0.0;
    for (const GeoPosition& p : points) {
        const double lon = std::remainder(p.m_dLongitude, 360.0), lon360 = lon < 0.0 ? lon + 360.0 : lon;
        west = std::min(west, lon), east = std::max(east, lon);
        west360 = std::min(west360, lon360), east360 = std::max(east360, lon360);
    }
    const double middle = east360 - west360 < east - west ? (west360 + east360) / 2.0 : (west + east) / 2.0;
    return UtmZoneOf({(south->m_dLatitude + north->m_dLatitude) / 2.0, middle});
}

QString FitCrs::Definition() const
{
    switch (m_eKind) {
    case Kind::Geographic:
        return QStringLiteral("EPSG:4326");
    case Kind::Utm:
    case Kind::Auto:
        return QString();
    case Kind::Defined:
        break;
    }
    // A PROJ string as GIS tools take it ("+proj=lcc ... +datum=WGS84") is a projection to PROJ
    // until it is told the string defines a coordinate system.
    if (m_strDefinition.startsWith(QLatin1Char('+')) && !m_strDefinition.contains(QLatin1String("+type=crs")))
        return m_strDefinition + QStringLiteral(" +type=crs");
    return m_strDefinition;
}
