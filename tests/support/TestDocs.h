#pragma once
// Documents in the states the tests start from, made through the document's own operations.

#include "document/CQuilletDoc.h"

#include <QColor>

/// A BMP file of width x height pixels filled with colour.
QByteArray MakeBmpFile(int width, int height, QColor colour = QColor(200, 180, 120));

/// Loads a picture map of width x height pixels of kind mapType, as New does for a file at path
/// (which need not exist), with nothing unsaved. The picture drawn is a plain one of at most
/// 64 x 64 pixels.
void LoadPictureMap(CQuilletDoc& doc, int width, int height, MapKind mapType = MapKind::Bmp,
                    const QString& path = QStringLiteral("/maps/test.bmp"));

/// Loads a TIFF map of one blank width x height image whose georeference, in degrees, puts
/// the south-west corner at origin with spans extent: the map's GeoTIFF frame.
void LoadDegreeTiffMap(CQuilletDoc& doc, int width, int height, const CDataGeo& origin, const CDataGeo& extent);

/// Sets points, flag and model as they are, without a fit.
void SetPointsAndModel(CQuilletDoc& doc, const std::vector<CDataGeo>& points, bool geoCoded,
                       const GeoCoefficients& coefficients);
