#pragma once
// How far each control point is from a transformation fitted to the points, in the measures a map
// curator uses to find the bad one: on the picture in pixels, on the ground in metres, and with
// the point left out of the fit (the honest measure for a spline, which passes through every point).

#include "geo/Transformation.h"

#include <functional>
#include <optional>
#include <vector>

/// The distance in metres between two ground positions (x, y) of the fit's coordinate system.
using GroundDistance = std::function<double(const QPointF&, const QPointF&)>;
/// The distance on the WGS 84 ellipsoid between two positions given as (longitude, latitude) in
/// degrees: the ground metric while transformations are fitted in latitude and longitude.
double GeodesicGroundDistance(const QPointF& a, const QPointF& b);

/// One control point's residuals under a transformation fitted to the points.
struct TransformationResidual {
    /// The transformation's pixel for the point's ground coordinates minus the point's pixel
    /// (column from the left edge, row from the top edge).
    double m_dDx = 0.0;
    double m_dDy = 0.0;
    /// The distance in metres between the point's ground coordinates and where the
    /// transformation takes its pixel.
    double m_dGroundMetres = 0.0;
    /// Where the transformation takes the point's pixel, in ground coordinates.
    QPointF m_Landed;
    /// Where the transformation fitted to all the other points takes it; nothing when there is none.
    std::optional<QPointF> m_LeaveOneOutLanded;
    /// The same two measures under the transformation fitted to all the other points: the
    /// distance in metres and that in pixels. Nothing when the others do not carry one.
    std::optional<double> m_dLeaveOneOutMetres;
    std::optional<double> m_dLeaveOneOutPixels;
};

/// The residuals of a whole point set, or why no transformation was fitted.
struct TransformationAnalysis {
    TransformationFit m_Fit;
    std::vector<TransformationResidual> m_Points; ///< in entry order; empty when refused
    double m_dRmsMetres = 0.0;                    ///< root mean square of the ground residuals
};

/// Fits a transformation of the kind to the points and measures every point against it; the
/// leave-one-out measures, which fit the set once more per point, only when leaveOneOut is set.
/// Pure: nothing outside changes.
TransformationAnalysis AnalyseTransformation(TransformKind kind, const std::vector<TiePoint>& points,
                                             const GroundDistance& distance = GeodesicGroundDistance,
                                             bool leaveOneOut = true);
