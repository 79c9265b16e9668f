#pragma once
// GeoTIFF output: a map's pixels with its georeference, as GIS tools open it without further
// ado: 8-bit RGB, tiled, Deflate-compressed, with internal overviews for large maps.

#include "geo/MapCrs.h"
#include "platform/Progress.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <array>

/// The GeoTIFF file of image (its RGB pixels; alpha is dropped) georeferenced by a GDAL
/// geotransform in the coordinate system crs: ModelPixelScale and ModelTiepoint when the
/// transform has no rotation, ModelTransformation otherwise; RasterPixelIsArea; the system as
/// the keys it was read from where it has them (a map's own GeoTIFF keys), else as its EPSG code
/// where it has one, otherwise as user-defined keys of its UTM projection and datum; a citation
/// naming it. noData, when not empty, is written as GDAL's NoData value (tag 42113). Images
/// larger than 1024 pixels on a side get reduced copies at halves, quarters, ... down to 256
/// pixels. Empty when libtiff cannot write it, and when cancelled through progress (reported to
/// after every row of tiles); std::bad_alloc when the memory for it runs out.
QByteArray EncodeGeoTiff(const QImage& image, const MapCrs& crs, const std::array<double, 6>& geoTransform,
                         const QByteArray& noData = {}, const Progress& progress = {});
