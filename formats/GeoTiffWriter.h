#pragma once
// GeoTIFF output: a map's pixels with its georeference, as GIS tools open it without further
// ado: 8-bit RGB, tiled, Deflate-compressed, with internal overviews for large maps.

#include "geo/MapCrs.h"
#include "platform/Progress.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>

/// The picture a GeoTIFF is written from, handed over a row at a time from the top, so that the
/// writer never holds a copy of it whole.
struct RgbRows {
    int m_nWidth = 0;
    int m_nHeight = 0;
    /// Fills rgb (m_nWidth x 3 bytes, red first) with row y; each row is asked for once, in order.
    std::function<void(int y, std::uint8_t* rgb)> m_Read;
};

/// Writes the GeoTIFF of rows, georeferenced by a GDAL geotransform in the coordinate system
/// crs, into fd, a new empty file open for reading and writing: ModelPixelScale and
/// ModelTiepoint when the transform has no rotation, ModelTransformation otherwise;
/// RasterPixelIsArea; the system as the keys it was read from where it has them (a map's own
/// GeoTIFF keys), else as its EPSG code where it has one, otherwise as user-defined keys of its
/// UTM projection and datum; a citation naming it. noData, when not empty, is written as GDAL's
/// NoData value (tag 42113). Pictures larger than 1024 pixels on a side get reduced copies at
/// halves, quarters, ... down to 256 pixels, each made from the one before as its rows come;
/// their coded tiles wait in scratch (another empty file open for reading and writing) until
/// the full picture's directory is written. Returns 0, or the errno of the failure: ECANCELED
/// when cancelled through progress (reported to after every row of tiles), ENOMEM when memory
/// ran out, EIO when libtiff refused.
int WriteGeoTiff(int fd, int scratch, const RgbRows& rows, const MapCrs& crs, const std::array<double, 6>& geoTransform,
                 const QByteArray& noData = {}, const Progress& progress = {});

/// The same file of image (its RGB pixels; alpha is dropped) made in memory. Empty when libtiff
/// cannot write it, and when cancelled through progress; std::bad_alloc when the memory for it
/// runs out.
QByteArray EncodeGeoTiff(const QImage& image, const MapCrs& crs, const std::array<double, 6>& geoTransform,
                         const QByteArray& noData = {}, const Progress& progress = {});

/// The memory WriteGeoTiff works in for a picture of width x height pixels: a few rows of tiles
/// of each size, and the smallest copies whole.
std::int64_t GeoTiffWorkingBytes(int width, int height);
