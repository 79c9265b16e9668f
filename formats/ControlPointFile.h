#pragma once
// Control points exchanged with other georeferencing tools: the QGIS georeferencer's .points
// files and the CSV that varnel-cli fit reads.

#include "geo/CDataGeo.h"
#include "platform/Parsed.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

/// One control point as the exchange files hold it.
struct ExchangedPoint {
    double m_dLatitude = 0.0;  ///< degrees
    double m_dLongitude = 0.0; ///< degrees
    double m_dColumn = 0.0;    ///< pixels from the picture's left edge
    double m_dRow = 0.0;       ///< pixels from the picture's top edge
    double m_dDx = 0.0;        ///< residual in pixels across (0 without a model)
    double m_dDy = 0.0;        ///< residual in pixels down (0 without a model)
};

/// A QGIS .points file: "#CRS: " and crsWkt2 on the first line, the header
/// "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual", then per point longitude, latitude,
/// column, minus the row (GIS rows count upward), 1, the residuals and their length.
QByteArray EncodeQgisPoints(const QString& crsWkt2, const std::vector<ExchangedPoint>& points);
/// The CSV of varnel-cli fit: "latitude,longitude,x,y" in degrees and frame units (x the
/// fraction of the width from the left, y of the height from the bottom).
QByteArray EncodePointsCsv(const std::vector<ExchangedPoint>& points, int width, int height);

/// Reads a .points file (with or without its "#CRS:" line; header "mapX,mapY,sourceX,sourceY,
/// ..." or the older "mapX,mapY,pixelX,pixelY,..."; rows whose enable is 0 are skipped) or a
/// CSV as above into control points of a picture of width x height pixels (arc-seconds and
/// frame units). Map coordinates of a system that is not geographic are converted to WGS 84
/// with PROJ; without a CRS line they are taken as WGS 84 longitude and latitude and values
/// outside it are refused. Any line that cannot be read refuses the whole file, with the reason
/// naming the line; so does a file without a point to import (empty, a
/// header alone, or only disabled rows).
Parsed<std::vector<CDataGeo>> ParseControlPoints(const QByteArray& file, int width, int height);
