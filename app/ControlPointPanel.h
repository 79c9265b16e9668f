#pragma once

#include "document/CView.h"
#include "geo/Residuals.h"

#include <QAbstractTableModel>
#include <QDockWidget>

class CQuilletDoc;
class CQuilletView;
class QLabel;
class QSortFilterProxyModel;
class QTableView;

/// The control points as rows: number, latitude and longitude in the input notation, column and
/// row in pixels, the residual as the fit judges it, on the ground and left out of the fit, and
/// a mark for points above the threshold. Numbers sort as numbers (Qt::UserRole).
class ControlPointTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Number, Latitude, Longitude, PixelColumn, PixelRow, Residual, Ground, LeftOut, Over, ColumnCount };

    explicit ControlPointTableModel(const CQuilletDoc& doc, QObject* parent = nullptr);

    /// Reads the points again and measures them.
    void Refresh();
    const ResidualAnalysis& Analysis() const { return m_Analysis; }
    /// The point whose residual left out of the fit (or else in the fit) is the largest; -1 none.
    int WorstPoint() const { return m_nWorst; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const CQuilletDoc& m_Doc;
    ResidualAnalysis m_Analysis;
    int m_nWorst = -1;
};

/// The residual workbench: a dock with the control-point table and a summary of the fit under
/// it. Choosing a row shows that point on the map; a double-click edits its coordinates and the
/// Delete key deletes it, both through the same commands as on the map (and so undoably).
class ControlPointPanel : public QDockWidget, public CView {
    Q_OBJECT
public:
    ControlPointPanel(CQuilletDoc& doc, CQuilletView& view, QWidget* parent = nullptr);
    ~ControlPointPanel() override;

    void OnUpdate(CView* sender, long hint) override;

    QTableView* Table() const { return m_pTable; }
    QLabel* Summary() const { return m_pSummary; }
    ControlPointTableModel& Model() { return *m_pModel; }
    /// The point shown in the table's selected row, -1 none.
    int SelectedPoint() const;
    /// Chooses the row of point index, picked on the map: the map highlights it where it is.
    void SelectPoint(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Refresh();

    CQuilletDoc& m_Doc;
    CQuilletView& m_View;
    ControlPointTableModel* m_pModel;
    QSortFilterProxyModel* m_pSorted;
    QTableView* m_pTable;
    QLabel* m_pSummary;
    bool m_bShownOnce = false;
    bool m_bPickedOnMap = false; ///< the row being chosen was picked on the map
};
