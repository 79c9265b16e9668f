#pragma once
// The coordinate reference system a map's geo-coding is written in, and what PROJ says of it:
// WGS 84 latitude and longitude for a geo-coding from control points, or the UTM zone (or the
// degrees) of a GeoTIFF's own georeference.

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

    /// "EPSG:4326", or the PROJ definition of a system without an EPSG code.
    QString Name() const;
    /// A citation that names the system as GeoTIFF files do ("WGS 84 / UTM zone 18N").
    QString Citation() const;
    /// The EPSG code of the geographic system of the datum (4326, 4267, 4322).
    int GeographicEpsg() const;
};

/// WGS 84 latitude and longitude: how control points are typed.
MapCrs Wgs84();
/// The system of a GeoTIFF georeference: its UTM zone on its datum, or, for one in degrees, the
/// datum's latitude and longitude.
MapCrs CrsOfGeoTiff(const GeoTiffInfo& info);

/// The system as WKT: ESRI's WKT 1 (for .prj files) or WKT 2 on one line (for QGIS .points
/// files). Empty when PROJ cannot describe it.
QString CrsWktEsri(const MapCrs& crs);
QString CrsWkt2(const MapCrs& crs);

/// Converts map coordinates (x easting or longitude, y northing or latitude) of a system given
/// as WKT, PROJ or EPSG text into WGS 84 latitude and longitude. Nothing, with a message in
/// error, when the system is unknown or the point cannot be converted.
std::optional<GeoPosition> ToWgs84(const QString& crs, double x, double y, QString* error = nullptr);
/// The system given as WKT, PROJ or EPSG text is geographic (latitude and longitude). Nothing
/// when PROJ does not know it.
std::optional<bool> IsGeographicCrs(const QString& crs);
