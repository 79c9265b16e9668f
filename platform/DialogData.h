#pragma once
// The values the modal dialogs exchange with their callers. The dialogs themselves are
// widgets; these plain records let the document and the view run them through UiServices and
// let tests answer them.

#include <QString>

#include <vector>

/// Decimal-degree coordinate dialog: latitude and longitude as typed, in degrees.
struct CoordinateEntry {
    QString m_strLatitude;
    QString m_strLongitude;
    int m_nFocusField = 0; ///< the field that takes the keyboard: 0 latitude, 1 longitude
    /// The projected system the map is fitted in, by name, when the dialog may take easting and
    /// northing in it instead; empty when it may not.
    QString m_strProjectedCrs = {};
    /// The fields hold northing (in m_strLatitude) and easting (in m_strLongitude) in that system.
    bool m_bProjected = false;
};

/// Degree/minute/second coordinate dialog: six fields as typed.
struct DegMinSecEntry {
    QString m_strLatDeg;
    QString m_strLatMin;
    QString m_strLatSec;
    QString m_strLonDeg;
    QString m_strLonMin;
    QString m_strLonSec;
    int m_nFocusField = 0; ///< the field that takes the keyboard, 0 to 5 in the order above
};

/// A combo-box choice (Input Options, Select Unit): the list index picked.
struct ComboChoice {
    int m_nSelection = 0;
};

/// Select Image: the image index picked among m_nImageCount images.
struct ImageChoice {
    int m_nSelection = 0;
    int m_nImageCount = 0;
};

/// Transformation: how a map is geo-coded from its points, as chosen in the dialog. The
/// transformation is a list index in the order affine, helmert, projective, poly2, poly3, tps; the
/// coordinate system 0 latitude and longitude, 1 the UTM zone of the points, 2 the system typed.
struct TransformationEntry {
    int m_nTransform = 0;
    int m_nCrsKind = 0;
    QString m_strCrs; ///< an EPSG code, a PROJ string or WKT, as typed (with m_nCrsKind 2)
    /// The user asked to find the map's projection from its points instead of choosing one.
    bool m_bFindProjection = false;
};

/// Find Projection: the projections the search ranked for the map, best first, and the one the
/// user picks (a row index).
struct ProjectionPick {
    struct Row {
        QString m_strCrs;           ///< the projection as a PROJ string
        double m_dRmsMetres = 0.0;  ///< the fit's ground residuals in it
        double m_dLooRmsMetres = 0.0; ///< the same with each point left out of the fit in turn
    };
    std::vector<Row> m_Rows;
    QString m_strNote; ///< families too few points left out of the ranking; empty when none
    int m_nSelection = 0;
};

/// Export Rectified: the grid and resampling of the rectified file, as typed. Empty resolution
/// and extent texts take the map's own.
struct RectifyEntry {
    QString m_strCrs;         ///< the target coordinate system
    int m_nResampling = 1;    ///< 0 nearest, 1 bilinear, 2 cubic, 3 Lanczos
    QString m_strResolution;  ///< "XRES,YRES" in target units
    QString m_strExtent;      ///< "XMIN,YMIN,XMAX,YMAX" in target units
    QString m_strMaskPath;    ///< a GeoJSON or WKT polygon file in the map's pixels; empty for none
};
