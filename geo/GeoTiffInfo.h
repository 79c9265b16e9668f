#pragma once

#include "platform/WinTypes.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <vector>

/// One GeoTIFF key as a file holds it: its number and its values, numbers for a SHORT or DOUBLE
/// key, text for an ASCII one.
struct GeoKeyValue {
    enum class Type { Short, Double, Ascii };
    int m_nKey = 0;
    Type m_Type = Type::Short;
    std::vector<double> m_Values;
    QByteArray m_Text;

    friend bool operator==(const GeoKeyValue&, const GeoKeyValue&) = default;
};

/// The GeoTIFF georeference of one TIFF image: tie point and pixel scale in model units
/// (metres for a UTM georeference, degrees for a geographic one), the image size, and the
/// UTM zone, datum code and hemisphere found in the citation; beside them the coordinate system
/// the keys define in full and the file's NoData value, which exports keep. All zero (empty)
/// until filled.
struct GeoTiffInfo {
    double m_dTieX = 0.0;   ///< model X (easting) of the top-left corner: ModelTiepointTag value 3
    double m_dTieY = 0.0;   ///< model Y (northing) of the top-left corner: ModelTiepointTag value 4
    double m_dScaleX = 0.0; ///< model units per pixel across: ModelPixelScaleTag value 0
    double m_dScaleY = 0.0; ///< model units per pixel down: ModelPixelScaleTag value 1
    /// The picture position the model is tied at, in pixels from the top-left corner: the tie
    /// point's raster position (ModelTiepointTag values 0 and 1), half a pixel further on where
    /// the keys say the values are the pixels' centres (RasterPixelIsPoint). GDAL reads files so.
    double m_dTieColumn = 0.0;
    double m_dTieRow = 0.0;
    /// The whole pixel-to-model relation as a GDAL geotransform (x = gt0 + column gt1 + row gt2,
    /// y = gt3 + column gt4 + row gt5), when the file gives it by a ModelTransformationTag instead
    /// of a tie point and scale: it may turn the picture. The tie and scale fields then hold its
    /// origin and its scales along the picture's axes.
    std::optional<std::array<double, 6>> m_ModelTransformation;
    int m_nRows = 0;        ///< image height in pixels
    int m_nColumns = 0;     ///< image width in pixels
    int m_nUtmZone = 0;     ///< UTM zone number from the citation, 0 when none
    BOOL m_bHasZone = 0;    ///< a zone number was found
    int m_nDatum = 0;       ///< datum code: 0 WGS84, 1 Clarke 1866
    BOOL m_bSouth = 0;      ///< the zone lies in the southern hemisphere (false northing 10 000 km)
    /// The coordinate system the keys define, datum and all: "EPSG:26913" for a registered one,
    /// WKT for one the file defines itself; empty when the keys define none.
    QString m_strCrs;
    std::vector<GeoKeyValue> m_GeoKeys; ///< the keys that define it, as the file holds them
    /// GDAL's NoData value (TIFF tag 42113, text), kept only where the map's pixels keep the
    /// file's sample values (8-bit grey or RGB); empty otherwise.
    QByteArray m_NoData;

    friend bool operator==(const GeoTiffInfo&, const GeoTiffInfo&) = default;
};
