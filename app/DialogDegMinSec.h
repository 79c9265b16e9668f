#pragma once

#include <QDialog>

#include "app/CDataInputDialog.h"

#include <array>

class QLineEdit;
class QPushButton;

/// Asks for a control point's latitude and longitude in degrees, minutes and seconds. The
/// fields take any text; turning it into numbers is the caller's job.
class DialogDegMinSec : public QDialog {
    Q_OBJECT
public:
    explicit DialogDegMinSec(QWidget* parent = nullptr);

    /// Shows the dialog with the members in the fields; on OK the members hold what was typed.
    int DoModal();

    /// Offers "Pick on Reference", which closes the dialog with kPickOnReference.
    bool m_bOfferPick = false;

    QString m_strLatDeg;
    QString m_strLatMin;
    QString m_strLatSec;
    QString m_strLonDeg;
    QString m_strLonMin;
    QString m_strLonSec;
    /// The field that takes the keyboard when the dialog opens, 0 to 5 in member order (the one
    /// to correct when the dialog comes back after a refusal).
    int m_nFocusField = 0;

    /// The six edits in member order: latitude degrees, minutes, seconds, then longitude.
    const std::array<QLineEdit*, 6>& Edits() const { return m_Edits; }

private:
    std::array<QString*, 6> Members();

    std::array<QLineEdit*, 6> m_Edits{};
    QPushButton* m_pPick = nullptr;
};
