#pragma once
// Reference data: the trusted maps a scan is compared with. A georeferenced raster GDAL reads (a
// GeoTIFF, a PNG or JPEG with a world file, JPEG 2000 where GDAL has the driver) or the lines,
// polygons and points of a vector file OGR reads (GeoJSON, GeoPackage, Shapefile, KML), each in
// its own coordinate system.

#include "geo/FitCrs.h"
#include "geo/Overlay.h"
#include "platform/Parsed.h"

#include <QImage>
#include <QString>

#include <array>
#include <vector>

struct ReferenceData {
    QString m_strPath;
    FitCrs m_Crs;                              ///< the reference's own system
    bool m_bRaster = false;
    QImage m_Image;                            ///< a raster's picture, reduced to the size asked for
    std::array<double, 6> m_GeoTransform{};    ///< m_Image's pixels into m_Crs, in GDAL's convention
    std::vector<OverlayShape> m_Shapes;        ///< a vector file's features, in m_Crs
    std::array<double, 4> m_Extent{};          ///< x min, y min, x max, y max in m_Crs
    qsizetype m_nVertices = 0;
};

/// The most vertices a vector reference may have: far beyond any useful overlay, below what
/// would exhaust memory.
constexpr qsizetype kMaxReferenceVertices = 20'000'000;

/// Reads the reference at path, a raster reduced to at most maxSide pixels on its longer side.
/// Refused, with a phrase for the user, for a file GDAL cannot read, a raster without a
/// georeference or either without a coordinate system PROJ converts, a vector file whose
/// features cannot be read or have coordinates that are no numbers, and one with nothing to draw.
/// A raster with a world file and no system of its own takes the one in a ".prj" file beside it.
Parsed<ReferenceData> ReadReference(const QString& path, int maxSide = 4096);

/// The extent (x min, y min, x max, y max) in the system of conversion of the ground a width x
/// height picture geo-coded by coding reads out over, from samples of it; nothing when no sample
/// converts.
std::optional<std::array<double, 4>> PictureExtentIn(const FitCrsConversion& conversion, const GeoCoding& coding,
                                                     double width, double height);

/// Whether the reference's extent meets the ground a width x height picture geo-coded by coding
/// reads out over (true when that cannot be told).
bool ReferenceOverlaps(const ReferenceData& reference, const GeoCoding& coding, double width, double height);

/// The picture column and row of the reference raster's ground coordinates (x, y), and back.
QPointF ReferenceGroundToImage(const ReferenceData& reference, const QPointF& ground);
QPointF ReferenceImageToGround(const ReferenceData& reference, const QPointF& pixel);
