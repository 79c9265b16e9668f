#pragma once
// The map frame of a GeoTIFF image: its georeference turned into a latitude/longitude box.

#include "geo/CDataGeo.h"
#include "geo/GeoTiffInfo.h"
#include "geo/Geodesy.h"

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
GeoTiffFrame SetUpGeoTiffFrame(const GeoTiffInfo& info, int width, int height, UtmProjection& projection);

/// The latitude and longitude of pixel (column, row) of an image with this georeference,
/// continuous from the image's top-left corner: the model coordinates by tie point and pixel
/// scale, then, for a metric georeference, the inverse of projection (set up by
/// SetUpGeoTiffFrame). Nothing when a metric point cannot be converted.
std::optional<GeoPosition> GeoTiffPixelToGeographic(const GeoTiffInfo& info, const UtmProjection& projection,
                                                    double column, double row);
