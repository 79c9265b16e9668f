#pragma once

#include <QDialog>

class QComboBox;

/// The layout the three list-choice dialogs share: one drop-down combo box whose picked item
/// index is m_nSelection. Callers set m_nSelection before DoModal and read it after IDOK.
class CComboChoiceDialog : public QDialog {
    Q_OBJECT
public:
    int DoModal();

    QComboBox* m_ctlCombo;
    int m_nSelection = 0;

protected:
    /// Builds the dialog: caption, size and combo placement in dialog units, list items from the
    /// template, and an OK button with an optional Cancel button.
    struct Template {
        const char* caption;
        int width, height;
        int comboId, comboX, comboY, comboWidth;
        QStringList items;
        int okX, okY;
        int cancelX = -1, cancelY = -1; ///< -1: the dialog has no Cancel button
    };
    CComboChoiceDialog(const Template& layout, QWidget* parent);

    /// Fills the list where the template cannot (the image list) and selects m_nSelection.
    virtual void OnInitDialog();
};

/// Input Options: how control-point coordinates are typed (0 decimal degrees, 1 degrees,
/// minutes and seconds).
class CDialogInputoptions : public CComboChoiceDialog {
    Q_OBJECT
public:
    explicit CDialogInputoptions(QWidget* parent = nullptr);
};

/// Select Image: which image of a multi-image TIFF map to show.
class CDialogSelimg : public CComboChoiceDialog {
    Q_OBJECT
public:
    explicit CDialogSelimg(QWidget* parent = nullptr);

    int m_nImageCount = 0;

protected:
    void OnInitDialog() override;
};

/// Select Unit: feet (0) or metres (1) for the distance read-out.
class CDialogSelunit : public CComboChoiceDialog {
    Q_OBJECT
public:
    explicit CDialogSelunit(QWidget* parent = nullptr);
};
