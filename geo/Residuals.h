#pragma once
// How far each control point is from the fitted model, in every measure a map curator uses to
// find the bad one: the residual in pixels on the picture, in arc-seconds as the fit judges it,
// on the ground in metres, and with the point left out of the fit.

#include "geo/CDataGeo.h"
#include "geo/GeoCodingChoice.h"
#include "geo/GeoModel.h"

#include <optional>
#include <vector>

/// One control point's residuals under the model fitted to the points.
struct PointResidual {
    /// The model's pixel for the typed coordinates minus the point's pixel (column from the left
    /// edge, row from the top edge).
    double m_dDx = 0.0;
    double m_dDy = 0.0;
    /// As the fit judges it: the larger of the latitude and longitude differences between the
    /// typed coordinates and the back-projected pixel, in arc-seconds.
    double m_dArcSeconds = 0.0;
    /// Distance on the WGS 84 ellipsoid between the typed coordinates and the back-projected
    /// pixel, as the measuring tool measures (a back-projection past a pole counts from the pole).
    double m_dGroundMetres = 0.0;
    /// The fit's residual measure of this point under the model fitted to all the other points;
    /// nothing when fewer than six others remain or that fit is degenerate.
    std::optional<double> m_dLeaveOneOut;
    /// Above the fit's threshold.
    bool m_bOverThreshold = false;
};

/// The residuals of a whole point set.
struct ResidualAnalysis {
    /// The model the fit reached (accepted or rejected); nothing when it reached none (fewer
    /// than six points, or a degenerate set), and then nothing below is set either.
    std::optional<GeoModel> m_Model;
    bool m_bAccepted = false;
    std::vector<PointResidual> m_Points; ///< in entry order
    double m_dRmsMetres = 0.0;           ///< root mean square of the ground residuals
    double m_dThreshold = 0.0;           ///< arc-seconds
    double m_dLargest = 0.0;             ///< the largest residual, arc-seconds
    /// Why no model was reached under a transformation other than the default (see GeoFitResult).
    QString m_strRefusal;
};

/// Fits the points (latitude and longitude in arc-seconds, image position in frame units) of a
/// picture of width x height pixels as the geo-coding fit does and measures every point against
/// the result. The leave-one-out residuals, which fit the set once per point, are computed only
/// when leaveOneOut is set. Pure: nothing outside changes.
ResidualAnalysis AnalyseResiduals(const std::vector<CDataGeo>& points, int width, int height, bool leaveOneOut = true);

/// The same under the map's choice of transformation and coordinate system: the default is the
/// analysis above; for another choice the pixel residual is the transformation's, the residual in
/// arc-seconds and the threshold are the fit's own, the ground residual is measured on the
/// ellipsoid and the leave-one-out residual in arc-seconds comes from the transformation fitted
/// to the other points. For a spline the residuals at the points are zero by construction.
ResidualAnalysis AnalyseResiduals(const GeoCodingChoice& choice, const std::vector<CDataGeo>& points, int width,
                                  int height, bool leaveOneOut = true);
