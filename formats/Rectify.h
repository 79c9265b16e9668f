#pragma once
// A north-up GeoTIFF of a geo-coded map in a coordinate system of the user's choice: GDAL's warper
// resamples the picture through the map's own geo-coding, so the file lines up in any GIS.

#include "geo/GeoCoding.h"
#include "imaging/DIBSection.h"
#include "platform/Progress.h"

#include <QString>

#include <array>
#include <optional>

enum class RectifyResampling { Near, Bilinear, Cubic, Lanczos };

struct RectifyOptions {
    QString m_strCrs = QStringLiteral("EPSG:4326"); ///< any text PROJ makes a coordinate system of
    RectifyResampling m_eResampling = RectifyResampling::Bilinear;
    /// Pixel size (x, y, both positive) in target units; by default the map's own, as gdalwarp
    /// chooses it.
    std::optional<std::array<double, 2>> m_Resolution;
    /// xmin, ymin, xmax, ymax in target units; by default the whole map.
    std::optional<std::array<double, 4>> m_Extent;
    /// A polygon in pixel coordinates of the map (WKT or GeoJSON) outside which nothing is
    /// written: it cuts off margins and legends. Empty for the whole picture.
    QString m_strMask;
};

/// The grid a rectified file was written on.
struct RectifiedGrid {
    QString m_strCrs;                   ///< the target system as given
    std::array<double, 6> m_GeoTransform{}; ///< GDAL's order: x0, dx, rx, y0, ry, dy
    int m_nWidth = 0;
    int m_nHeight = 0;
};

/// The outcome of RectifyMap: the grid, or a sentence for the user on why nothing was written.
struct RectifyResult {
    std::optional<RectifiedGrid> m_Grid;
    QString m_strRefusal;
    bool m_bCancelled = false;
};

/// Resamples the 24-bit picture (columns and rows continuous from its top-left corner, as the
/// geo-coding's pixels are) into path as a GeoTIFF in the target system: red, green, blue and an
/// alpha band that is 0 outside the map and the mask, tiled, Deflate-compressed, with overviews,
/// on all cores. The file is written under a temporary name and renamed when complete, so a
/// refusal, a failure or Cancel through progress leaves no file and keeps the one that was there.
RectifyResult RectifyMap(const DIBSection& picture, const GeoCoding& geoCoding, const RectifyOptions& options,
                         const QString& path, const Progress& progress = {});

/// A map resampled in memory onto a WGS 84 latitude and longitude grid, north up, so that
/// longitude and latitude are linear in column and row: the picture and where its pixels lie,
/// or a sentence for the user on why there is none.
struct RectifiedPicture {
    /// 24-bit, white where the map does not reach (a BMP has no transparency, and the map's
    /// paper is white); empty on refusal or Cancel.
    DIBSection m_Picture;
    double m_dWest = 0.0;  ///< longitude of the left edge of the first column
    double m_dNorth = 0.0; ///< latitude of the top edge of the first row
    double m_dDegreesPerColumn = 0.0;
    double m_dDegreesPerRow = 0.0; ///< positive: latitude falls down the rows
    QString m_strRefusal;
    bool m_bCancelled = false;
};

/// Resamples the 24-bit picture through its geo-coding into WGS 84 latitude and longitude on the
/// grid gdalwarp would choose (the whole map at its own resolution), as RectifyMap does on all
/// cores, but into memory and without an alpha band. The rectified picture's size is checked
/// against the memory left before it is made; Cancel through progress returns no picture.
RectifiedPicture RectifyToLatLong(const DIBSection& picture, const GeoCoding& geoCoding,
                                  RectifyResampling resampling = RectifyResampling::Bilinear,
                                  const Progress& progress = {});

/// "near", "bilinear", "cubic", "lanczos" as a command line gives them; nothing for another word.
std::optional<RectifyResampling> ParseResampling(const QString& text);
