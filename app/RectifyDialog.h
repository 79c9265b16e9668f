#pragma once

#include "platform/DialogData.h"

#include <QDialog>

class QComboBox;
class QLineEdit;

/// Asks for the grid of a rectified map: the target coordinate system, the resampling, and
/// optionally the resolution, the extent and a mask file that cuts off margins and legends. The
/// fields are taken as text; reading them is the caller's job.
class RectifyDialog : public QDialog {
    Q_OBJECT
public:
    explicit RectifyDialog(QWidget* parent = nullptr);

    /// Shows the dialog with the entry in the fields; on OK the entry holds what was typed.
    int DoModal(RectifyEntry& entry);

private:
    QLineEdit* m_pCrs;
    QComboBox* m_pResampling;
    QLineEdit* m_pResolution;
    QLineEdit* m_pExtent;
    QLineEdit* m_pMask;
};
