#pragma once
// The geo-coding fit: a six-parameter affine model from latitude and longitude to picture pixels,
// fitted to the control points by least squares and checked point by point against a threshold
// derived from the extent of the points.

#include "geo/CDataGeo.h"
#include "geo/GeoCodingChoice.h"
#include "geo/GeoFitResult.h"

#include <array>
#include <vector>

/// Fits the geo-coding model to the control points and decides whether it is accurate enough.
///
/// points: control points in entry order, latitude and longitude in arc-seconds (north and east
/// positive), image position in frame units (fraction of the width from the left edge, fraction of
/// the height from the bottom edge). imageWidth, imageHeight: picture size in pixels.
/// geoCoef, geoCoded: the document's model and flag before the run; the result carries their
/// values after it. Six or more points are needed. The function has no side effects.
GeoFitResult ComputeGeoFit(const std::vector<CDataGeo>& points, int imageWidth, int imageHeight,
                           const std::array<double, 16>& geoCoef, BOOL geoCoded);

/// The fit as the map's choice makes it: the affine fit above for the default choice; otherwise
/// the chosen transformation in the chosen coordinate system, judged by the same rule on its own
/// residuals (the larger of the latitude and longitude differences where each point's pixel reads
/// out, against the same threshold) and, when accepted, stored as the closest affine relation
/// over the picture with the model itself in m_GeoCoding. Fewer points than the transformation
/// needs, or a set it refuses, leave a sentence in m_strRefusal.
GeoFitResult ComputeGeoFit(const GeoCodingChoice& choice, const std::vector<CDataGeo>& points, int imageWidth,
                           int imageHeight, const std::array<double, 16>& geoCoef, BOOL geoCoded);

/// The points as a transformation is fitted to them: degrees and continuous pixels (column from
/// the left, row from the top) of a picture of imageWidth x imageHeight pixels.
std::vector<GeoControlPoint> GeoControlPoints(const std::vector<CDataGeo>& points, int imageWidth, int imageHeight);
