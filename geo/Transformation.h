#pragma once
// The transformations a map can be geo-coded with: a relation between the picture's pixels and
// the ground coordinates of the fit's coordinate system, fitted to the control points. Each
// direction, pixel to ground and ground to pixel, is fitted on its own, as GIS tools fit their
// control-point transformations, so that Varnel and those tools agree on the same points.

#include "geo/PlaneFit.h"

#include <QPointF>
#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

/// How pixels and ground are related.
enum class TransformKind {
    Affine,     ///< six parameters: shift, two scales, rotation and shear
    Helmert,    ///< four parameters: shift, one scale, rotation (a similarity, north kept up the rows)
    Projective, ///< eight parameters: the picture of a plane taken at a slant (a homography)
    Poly2,      ///< polynomials of order 2 in column and row
    Poly3,      ///< polynomials of order 3 in column and row
    Tps,        ///< the thin-plate spline through every point
};

/// The kind's name on a command line and in settings: "affine", "helmert", "projective", "poly2",
/// "poly3", "tps".
QString TransformKindName(TransformKind kind);
/// The kind of a name as TransformKindName writes it (letter case aside); nothing for another text.
std::optional<TransformKind> ParseTransformKind(const QString& name);
/// The fewest control points a transformation of the kind is fitted to.
int MinimumPoints(TransformKind kind);

/// A control point as a transformation sees it: its pixel (column from the left edge, row from the
/// top edge, continuous, as a pixel's top-left corner has whole numbers) and its ground coordinates
/// (x easting or longitude, y northing or latitude) in the fit's coordinate system.
struct TiePoint {
    double m_dColumn = 0.0;
    double m_dRow = 0.0;
    double m_dX = 0.0;
    double m_dY = 0.0;
};

struct TransformationFit;

/// A transformation fitted to control points, both ways. Copies share the fitted state, which is
/// never changed after the fit.
class Transformation {
public:
    /// Fits a transformation of the kind to the points, each direction by least squares on that
    /// kind's terms (the spline passes through every point). Refused, with a sentence for the user,
    /// for fewer points than the kind needs, two points on the same pixel or the same ground
    /// position, points on one line (all kinds but Helmert need them spread), and a set that does
    /// not determine the transformation.
    static TransformationFit Fit(TransformKind kind, const std::vector<TiePoint>& points);

    /// For the kinds fitted by linear least squares (all but projective and the spline), each point's
    /// leverage in the fit from pixels (first) and in that from ground coordinates (second): the
    /// fit to the other points misses the point by its residual divided by 1 - leverage. Nothing
    /// for the other kinds, for a set the fit refuses, and for one so near a refusal (points
    /// almost on one line, terms barely determined) that leaving a point out might bring one.
    static std::optional<std::vector<std::pair<double, double>>> Leverages(TransformKind kind,
                                                                          const std::vector<TiePoint>& points);

    /// The affine transformation of a geotransform in GDAL's convention (x = gt0 + gt1 column +
    /// gt2 row, y = gt3 + gt4 column + gt5 row): a model known exactly, not fitted to points.
    /// Nothing when it cannot be inverted.
    static std::optional<Transformation> FromGeoTransform(const std::array<double, 6>& gt);

    TransformKind Kind() const { return m_eKind; }
    /// The ground coordinates (x, y) of pixel (column, row); nothing where the transformation has
    /// no value (a projective one on its horizon).
    std::optional<QPointF> Forward(double column, double row) const;
    /// The pixel (column, row) of ground coordinates (x, y); nothing where there is none.
    std::optional<QPointF> Inverse(double x, double y) const;

private:
    explicit Transformation(TransformKind kind) : m_eKind(kind) {}
    /// Fits the library's polynomial transformer of the order (1 to 3), or for order 0 its
    /// thin-plate spline; false when the library finds the points do not determine it.
    bool FitWithLibrary(int order, const std::vector<TiePoint>& points);

    TransformKind m_eKind;
    Homography m_dForward{}; ///< Helmert and projective: pixel to ground
    Homography m_dInverse{}; ///< Helmert and projective: ground to pixel
    /// Affine, polynomials and spline: the library's transformer, pixel to ground as its forward way.
    std::shared_ptr<void> m_pLibrary;
};

/// The outcome of Transformation::Fit: the transformation, or why there is none.
struct TransformationFit {
    std::optional<Transformation> m_Transformation;
    QString m_strRefusal; ///< a sentence for the user; empty when fitted
};
