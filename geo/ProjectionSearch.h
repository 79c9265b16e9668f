#pragma once
// Finding the projection a map is drawn in from its control points. Atlases seldom print their
// projection, and no polynomial in latitude and longitude follows a continental map closely; in the
// map's own projection an affine relation holds exactly. The search tries the families maps are
// drawn in, each with its few shape parameters, and solves the affine part (shift, scale, rotation,
// shear) by least squares for every trial, so only what the affine part cannot absorb is searched.

#include "geo/GeoCoding.h"

#include <QString>

#include <vector>

/// One projection the search fitted, with how well it follows the points.
struct ProjectionCandidate {
    QString m_strCrs;            ///< a PROJ string on WGS 84 ("+proj=lcc ... +datum=WGS84 +units=m +no_defs")
    double m_dRmsMetres = 0.0;   ///< root mean square of the ground residuals of the affine fit in it
    double m_dLooRmsMetres = 0.0; ///< the same with each point left out of the affine fit in turn
    int m_nShapeParameters = 0;  ///< how many of its parameters the search chose
};

/// The ranking, best first, or why the projection cannot be told.
struct ProjectionSearchResult {
    std::vector<ProjectionCandidate> m_Candidates; ///< empty when refused
    QString m_strRefusal; ///< "The projection cannot be told from these points: ..."; empty when found
    /// Which families too few points left out of the ranking, the simpler ones standing in; empty
    /// when every family was judged.
    QString m_strNote;
};

/// Searches the projection families for the one the points' map is drawn in and ranks the best
/// `keep` of them by leave-one-out ground error; the first is the one to fit in. Refused for fewer
/// than six points, for points spread over less than two degrees (where every family fits them
/// alike) and for points that no family fits to within a hundredth of their extent. Pure, and safe
/// to run on any thread: it works on a PROJ context of its own.
ProjectionSearchResult SearchProjection(const std::vector<GeoControlPoint>& points, std::size_t keep = 5);
