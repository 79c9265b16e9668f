#pragma once
// The map frame of a GeoTIFF image: its georeference turned into a latitude/longitude box.

#include "geo/CDataGeo.h"
#include "geo/FitCrsConversion.h"
#include "geo/GeoTiffInfo.h"
#include "geo/Geodesy.h"

#include <array>
#include <optional>

class UtmProjection;

/// What the document update takes from an image's georeference. When m_bGeoTiffFrame is set the
/// frame is in degrees: m_Origin is the south-west corner (latitude S, longitude W) and
/// m_Extent the spans (N - S, E - W); otherwise the image is shown as a plain picture with the
/// unit frame, origin (0, 0) and extent (1, 1). Only m_dLatitude and m_dLongitude are used.
struct GeoTiffFrame {
    bool m_bGeoTiffFrame = false; ///< the georeference is the map frame (frame units are degrees)
    bool m_bGeoCoded = false;     ///< the document counts as geo-coded without control points
    CDataGeo m_Origin{0.0, 0.0};
    CDataGeo m_Extent{1.0, 1.0};
};

/// Sets up projection for the georeference info of an image width x height pixels large (the
/// record must have been filled from the file) and returns its frame.
///
/// The projection is (re)initialised with the zone, hemisphere and the ellipsoid of the datum
/// code. A metric georeference (both scales above 0.01 model units per pixel) needs that
/// projection: its north-west corner (tie point) and south-east corner (tie point + size x
/// scale, y down) are converted to degrees, and when the set-up fails or a corner cannot be
/// converted the image is a plain picture - metres are never read as degrees. A georeference
/// with a scale of 0.01 or less is already in degrees and used as it is, whether or not the
/// projection could be set up. A map across the 180th meridian keeps a continuous frame: its
/// east longitude goes beyond 180 instead of the extent turning negative.
///
/// Where the keys define the coordinate system (m_strCrs) and that reading is not theirs - no
/// zone in the citation, another ellipsoid or projection than the citation suggests, metres
/// read as degrees, or a turned ModelTransformation - the model goes through PROJ from the
/// keys' own system, datum and all, to WGS 84 instead: keysCrs then holds that conversion (it
/// is emptied otherwise), and the frame is spanned the same way by the latitude and longitude
/// of the picture's top-left and bottom-right corners (by the box around its outline should
/// those not span one).
GeoTiffFrame SetUpGeoTiffFrame(const GeoTiffInfo& info, int width, int height, UtmProjection& projection,
                               std::optional<FitCrsConversion>& keysCrs);

/// The latitude and longitude of pixel (column, row) of an image with this georeference,
/// continuous from the image's top-left corner: the model coordinates by the pixel-to-model
/// relation, then, with keysCrs, PROJ's conversion to WGS 84, else, for a metric georeference,
/// the inverse of projection (both set up by SetUpGeoTiffFrame). Nothing when a point cannot be
/// converted.
std::optional<GeoPosition> GeoTiffPixelToGeographic(const GeoTiffInfo& info, const UtmProjection& projection,
                                                    const std::optional<FitCrsConversion>& keysCrs, double column,
                                                    double row);

/// The pixel-to-model relation of a georeference as a GDAL geotransform: the file's
/// ModelTransformation, or its tie point and scale, north up.
std::array<double, 6> GeoTiffGeoTransform(const GeoTiffInfo& info);
