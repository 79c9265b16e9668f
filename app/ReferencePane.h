#pragma once
// The reference pane: trusted maps beside the scan, each in its own coordinate system, with a
// zoom and a read-out of their own. A click on it gives a control point's latitude and
// longitude; once the scan is geo-coded, its lines are drawn on the scan and the scan over them.

#include "document/CView.h"
#include "formats/ReferenceData.h"
#include "view/core/OverlayPainter.h"

#include <QDockWidget>

#include <memory>
#include <optional>

class CQuilletDoc;
class CQuilletView;
class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSlider;
class ReferenceCanvas;

/// A reference as the pane shows it: its data, and a vector file's lines and points in the
/// pane's system.
struct PaneReference {
    ReferenceData m_Data;
    std::optional<FitCrsConversion> m_Conversion; ///< from its system to WGS 84
    OverlayDrawing m_InPane;
};

class ReferencePane : public QDockWidget, public CView {
    Q_OBJECT
public:
    ReferencePane(CQuilletDoc& document, CQuilletView& view, QWidget* parent = nullptr);
    ~ReferencePane() override;

    void OnUpdate(CView* sender, long hint) override;

    /// Asks for a reference file and adds it (View > Reference Map...).
    void OnAddReference();
    /// Adds the reference at path to the workspace's: nothing, or why it cannot be shown (the
    /// pane and the map are then unchanged).
    std::optional<QString> AddReference(const QString& path);
    /// Whether a reference is shown that a position can be picked on.
    bool CanPick() const;
    /// Waits for a click on the pane and gives its WGS 84 position (snapped to the nearest
    /// vertex of a vector reference within a few pixels when snapping is on); nothing when the
    /// user gives up (Escape, Cancel, closing the pane).
    std::optional<GeoPosition> PickPosition();

    bool ShowsGraticule() const { return m_bGraticule; }
    bool ShowsLinesOnMap() const { return m_bLinesOnMap; }
    bool ShowsMapOnReference() const { return m_bMapOnReference; }
    void SetShowGraticule(bool show);
    void SetShowLinesOnMap(bool show);
    void SetShowMapOnReference(bool show);

    const std::vector<PaneReference>& References() const { return m_References; }
    /// The widget the references are drawn on, and the pane's ground coordinates (in the first
    /// reference's system) under a point of it.
    QWidget* Canvas() const;
    QPointF GroundAt(const QPointF& canvasPoint) const;

private:
    /// Reads the document's references again when they changed.
    void SyncReferences();
    /// The reference at path as the pane shows it; nothing, with why appended to missing.
    static std::optional<PaneReference> ReadPaneReference(const QString& path, QStringList& missing);
    /// Redraws the lines on the map and the map on the pane after the geo-coding changed.
    void UpdateOverlays();
    /// The scan resampled onto the pane's grid through the map's geo-coding.
    void RenderMapOnReference(const GeoCoding& coding);
    /// The WGS 84 position of a click at canvasPoint, snapped when asked.
    std::optional<GeoPosition> PositionAt(const QPointF& canvasPoint) const;

    CQuilletDoc& m_Doc;
    CQuilletView& m_View;
    std::vector<PaneReference> m_References;
    QStringList m_LoadedPaths;
    ReferenceCanvas* m_pCanvas = nullptr;
    QPushButton* m_pAdd = nullptr;
    QListWidget* m_pList = nullptr;
    QLabel* m_pReadOut = nullptr;
    QCheckBox* m_pSnap = nullptr;
    QSlider* m_pOpacity = nullptr;
    bool m_bGraticule = false;
    bool m_bLinesOnMap = false;
    bool m_bMapOnReference = false;
};
