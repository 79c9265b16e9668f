#pragma once
// The values the five modal dialogs exchange with their callers. The dialogs themselves are
// widgets; these plain records let the document and the view run them through UiServices and
// let tests answer them.

#include <QString>

/// Decimal-degree coordinate dialog: latitude and longitude as typed, in degrees.
struct CoordinateEntry {
    QString m_strLatitude;
    QString m_strLongitude;
    int m_nFocusField = 0; ///< the field that takes the keyboard: 0 latitude, 1 longitude
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
