#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

/// What DoModal returns when "Pick on Reference" was pressed: the fields hold what was typed so far.
constexpr int kPickOnReference = 100;

/// Asks for a control point's latitude and longitude in decimal degrees. The fields take any
/// text; turning it into numbers is the caller's job.
class CDataInputDialog : public QDialog {
    Q_OBJECT
public:
    explicit CDataInputDialog(QWidget* parent = nullptr);

    /// Shows the dialog with the members in the fields; on OK the members hold what was typed.
    int DoModal();

    /// Offers "Pick on Reference", which closes the dialog with kPickOnReference.
    bool m_bOfferPick = false;

    QString m_strLatitude;
    QString m_strLongitude;
    /// The field that takes the keyboard when the dialog opens: 0 latitude, 1 longitude (the
    /// one to correct when the dialog comes back after a refusal).
    int m_nFocusField = 0;
    /// When not empty, a check box offers easting and northing in this projected system instead;
    /// m_bProjected says which the fields hold (northing first, in the latitude field).
    QString m_strProjectedCrs;
    bool m_bProjected = false;

    QLineEdit* LatitudeEdit() const { return m_pLatitude; }
    QLineEdit* LongitudeEdit() const { return m_pLongitude; }

private:
    QLabel* m_pLatitudeLabel;
    QLabel* m_pLongitudeLabel;
    QCheckBox* m_pProjected;
    QLineEdit* m_pLatitude;
    QLineEdit* m_pLongitude;
    QPushButton* m_pPick = nullptr;
};
