#pragma once
// How a map is geo-coded from its control points: the transformation and the coordinate system
// it is fitted in. The default, an affine relation to latitude and longitude, is the model the
// workspace's sixteen coefficients hold; any other choice is kept beside the workspace.

#include "geo/FitCrs.h"
#include "geo/Transformation.h"

struct GeoCodingChoice {
    TransformKind m_eTransform = TransformKind::Affine;
    FitCrs m_FitCrs;

    /// Affine in latitude and longitude: the fit the coefficients hold exactly.
    bool IsDefault() const
    {
        return m_eTransform == TransformKind::Affine && m_FitCrs.GetKind() == FitCrs::Kind::Geographic;
    }
    bool operator==(const GeoCodingChoice&) const = default;
};
