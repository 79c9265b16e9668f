#pragma once
// The coordinate reference system a map's geo-coding is written in, and what PROJ says of it:
// WGS 84 latitude and longitude for a geo-coding from control points, or the system of a
// GeoTIFF's own georeference: the one its keys define, datum and all, or failing that the UTM
// zone (or the degrees) its citation names.

#include "geo/GeoTiffInfo.h"
#include "geo/Geodesy.h"

#include <QString>

#include <optional>

struct MapCrs {
    bool m_bGeographic = true;     ///< latitude and longitude in degrees; otherwise UTM metres
    std::optional<int> m_nEpsg;    ///< the EPSG code, where one exists
    int m_nUtmZone = 0;
    bool m_bSouth = false;
    int m_nDatum = 0;              ///< the GeoTIFF datum code: 0 WGS 84, 1 Clarke 1866 (NAD27), 5 WGS 72
    QString m_strDefinition;       ///< WKT of a system a GeoTIFF's keys define without an EPSG code
    /// The GeoTIFF keys the system was read from: a GeoTIFF export writes them back as they were.
    std::vector<GeoKeyValue> m_GeoKeys;

    /// "EPSG:4326", or the WKT or PROJ definition of a system without an EPSG code.
    QString Name() const;
    /// A citation that names the system as GeoTIFF files do ("WGS 84 / UTM zone 18N").
    QString Citation() const;
    /// The EPSG code of the geographic system of the datum (4326, 4267, 4322).
    int GeographicEpsg() const;
};

/// WGS 84 latitude and longitude: how control points are typed.
MapCrs Wgs84();
/// The system of a GeoTIFF georeference: the one its keys define (m_strCrs) when they define
/// one; otherwise its UTM zone on its datum, or, for one in degrees, the datum's latitude and
/// longitude, as its citation names them.
MapCrs CrsOfGeoTiff(const GeoTiffInfo& info);
/// The WKT of the system a PROJ definition gives ("+proj=utm +zone=18 +ellps=WGS84 ..."), on the
/// registered geographic system geographicEpsg when there is one (so that its datum is kept);
/// empty when PROJ cannot make a coordinate system of it.
QString CrsWktOfDefinition(const QString& proj, std::optional<int> geographicEpsg);

/// The WKT of the system a GeoTIFF's keys define, from two readings of them: libgeotiff's PROJ
/// definition made WKT (by CrsWktOfDefinition) and GDAL's WKT. The first where the two say the
/// same (the same kind of system, projection and ellipsoid); GDAL's, as WKT 2 on one line, where
/// the first lost something on the way (a datum shift, a parameter that libgeotiff's PROJ text
/// has no room for, digits). Empty when neither reads.
QString CrsWktOfKeys(const QString& definitionWkt, const QString& gdalWkt);

/// The system as WKT: ESRI's WKT 1 (for .prj files) or WKT 2 on one line (for QGIS .points
/// files). Empty when PROJ cannot describe it.
QString CrsWktEsri(const MapCrs& crs);
QString CrsWkt2(const MapCrs& crs);

/// What a file or a command is told of a coordinate system PROJ cannot read.
inline QString UnknownCrsText()
{
    return QStringLiteral("the coordinate system is not one PROJ knows");
}

/// Converts map coordinates (x easting or longitude, y northing or latitude) of a system given
/// as WKT, PROJ or EPSG text into WGS 84 latitude and longitude. Nothing, with a message in
/// error, when the system is unknown or the point cannot be converted.
std::optional<GeoPosition> ToWgs84(const QString& crs, double x, double y, QString* error = nullptr);
/// The system given as WKT, PROJ or EPSG text is geographic (latitude and longitude). Nothing
/// when PROJ does not know it.
std::optional<bool> IsGeographicCrs(const QString& crs);
