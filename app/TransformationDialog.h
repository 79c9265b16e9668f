#pragma once

#include "platform/DialogData.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

/// Asks how the map is geo-coded from its points: the transformation, each listed with the
/// fewest points it takes, and the coordinate system the fit runs in (latitude and longitude, the
/// UTM zone of the points, or one typed as an EPSG code, a PROJ string or WKT). The typed system
/// is taken as text; whether PROJ knows it is the caller's to check. Find Projection closes it with
/// the entry asking for the search instead.
class TransformationDialog : public QDialog {
    Q_OBJECT
public:
    explicit TransformationDialog(QWidget* parent = nullptr);

    /// Shows the dialog with the entry in the fields; on OK the entry holds what was chosen.
    int DoModal(TransformationEntry& entry);

    QComboBox* TransformCombo() const { return m_pTransform; }
    QLineEdit* CrsEdit() const { return m_pCrs; }
    QPushButton* FindButton() const { return m_pFind; }

private:
    QComboBox* m_pTransform;
    QRadioButton* m_pGeographic;
    QRadioButton* m_pUtm;
    QRadioButton* m_pTyped;
    QLineEdit* m_pCrs;
    QPushButton* m_pFind;
    bool m_bFind = false;
};
