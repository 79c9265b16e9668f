#pragma once

#include "geo/Geodesy.h"
#include <optional>

#include "platform/UiServices.h"

#include <functional>

class QMessageBox;
class QWidget;

/// The user-interface services of the desktop application, on Qt Widgets.
struct ArcSeconds;

class QtUiServices : public UiServices {
public:
    /// parent owns the message boxes and dialogs (usually the main window); may be null.
    explicit QtUiServices(QWidget* parent = nullptr) : m_pParent(parent) {}
    void SetParent(QWidget* parent) { m_pParent = parent; }

    /// Whether the coordinate dialogs offer "Pick on Reference", and the pick itself: a WGS 84
    /// position clicked on the reference map, nothing when the user gave up.
    std::function<bool()> m_CanPickOnReference;
    std::function<std::optional<GeoPosition>()> m_PickOnReference;

private:
    template <class Dialog, class Entry>
    int RunPickingDialog(Entry& entry, void (*fill)(Dialog&, const Entry&), void (*keep)(const Dialog&, Entry&),
                         void (*picked)(const ArcSeconds&, Entry&));

public:

    int MessageBox(const QString& text, const QString& caption, unsigned type) override;
    FileDialogResult OpenFileDialog(const QString& title, const QString& filter, const QString& proposal = {}) override;
    FileDialogResult SaveFileDialog(const QString& title, const QString& filter, const QString& proposal = {}) override;
    void ShowStatus(const QString& text) override;
    void NoteRecentFile(const QString& path) override;
    int RunDataInputDialog(CoordinateEntry& entry) override;
    int RunDegMinSecDialog(DegMinSecEntry& entry) override;
    int RunInputOptionsDialog(ComboChoice& choice) override;
    int RunSelectImageDialog(ImageChoice& choice) override;
    int RunSelectUnitDialog(ComboChoice& choice) override;
    int RunTransformationDialog(TransformationEntry& entry) override;
    int RunProjectionDialog(ProjectionPick& pick) override;
    int RunRectifyDialog(RectifyEntry& entry) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    /// The work runs on a thread of its own while this one keeps the window painted.
    bool RunLongWork(const QString& title, const std::function<void(Progress)>& work) override;
    /// Whether long work is running (the window must not close under it).
    bool Busy() const { return m_nBusy > 0; }

    /// The filter list in Qt's "Text (*.a *.b);;Text (*.c)" form, one entry per filter entry.
    static QStringList QtNameFilters(const QString& filter);
    /// Sets up a message box: caption, text, icon and buttons from the MB_ flags, and a width
    /// that shows the whole caption.
    static void PrepareMessageBox(QMessageBox& box, const QString& text, const QString& caption, unsigned type);

    /// Where status texts go (the main frame's first pane).
    std::function<void(const QString&)> m_ShowStatus;
    /// Where files opened or written go (the main frame's recent files).
    std::function<void(const QString&)> m_NoteRecentFile;

private:
    FileDialogResult RunFileDialog(bool save, const QString& title, const QString& filter, const QString& proposal);

    QWidget* m_pParent;
    int m_nBusy = 0;
};
