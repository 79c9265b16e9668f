// The residual workbench: the control-point table, the map and the edit history stay in step.

#include "app/CMainFrame.h"
#include "app/ControlPointPanel.h"
#include "document/CQuilletDoc.h"
#include "resources/Resource.h"
#include "view/core/ViewGeometry.h"
#include "view/widgets/CQuilletView.h"
#include "ScriptedUiServices.h"

#include "FitTestPoints.h"
#include "TestDocs.h"

#include <QLabel>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

namespace {

/// The table's value (Qt::UserRole) in the row of point index and the given column.
double Cell(ControlPointPanel& panel, int point, int column)
{
    return panel.Model().index(point, column).data(Qt::UserRole).toDouble();
}

/// Selects the table row of point index, as a click on the row does.
void SelectPoint(ControlPointPanel& panel, int point)
{
    auto* sorted = static_cast<QSortFilterProxyModel*>(panel.Table()->model());
    panel.Table()->selectRow(sorted->mapFromSource(panel.Model().index(point, 0)).row());
}

} // namespace

TEST(ControlPointPanel, FindsTheDisplacedPointAndKeepsTableMapAndHistoryInStep)
{
    ScriptedUiServices ui;
    ScopedUiServices installed(ui);
    CQuilletDoc doc;
    CMainFrame frame(doc);
    frame.Create(0);
    frame.show();
    ControlPointPanel& panel = *frame.ControlPoints();
    CQuilletView& view = *frame.GetActiveView();

    // Nine points of an exact 3 x 3 grid (one pixel an arc-second), the centre moved 60 pixels.
    const PerturbedGrid grid;
    EXPECT_FALSE(panel.isVisible());
    LoadPictureMap(doc, grid.Width(), grid.Height());
    // Shown with the map, before any point: it must not move the picture under a user's clicks.
    EXPECT_TRUE(panel.isVisible());
    std::vector<CDataGeo> points = grid.Points(0.0, 0.0);
    points[4].m_dImageY -= 60.0 / grid.Height();
    SetPointsAndModel(doc, points, false, {});
    doc.ComputeProjection();
    ASSERT_FALSE(doc.IsGeoCoded());
    ASSERT_EQ(panel.Model().rowCount(), 9);
    EXPECT_TRUE(panel.Summary()->text().contains(QStringLiteral("rejected")));

    // Left out of the fit, the displaced point is 60 arc-seconds off; no other point half as much.
    EXPECT_EQ(panel.Model().WorstPoint(), 4);
    EXPECT_NEAR(Cell(panel, 4, ControlPointTableModel::LeftOut), 60.0, 1e-6);
    for (int i = 0; i < 9; ++i) {
        if (i != 4) {
            EXPECT_LT(Cell(panel, i, ControlPointTableModel::LeftOut), 30.0) << i;
        }
    }

    // Choosing its row shows it on the map: highlighted, and the zoomed window moves to it.
    ViewState& state = view.State();
    state.SetWindow({0.0, 0.0, 0.2, 0.2});
    const double widthBefore = state.Window().m_dRight - state.Window().m_dLeft;
    SelectPoint(panel, 4);
    EXPECT_EQ(state.HighlightedPoint(), 4);
    const double wx = (points[4].m_dImageX - state.FrameOrigin().m_dLongitude) / state.FrameExtent().m_dLongitude;
    EXPECT_GT(wx, state.Window().m_dLeft);
    EXPECT_LT(wx, state.Window().m_dRight);
    EXPECT_DOUBLE_EQ(state.Window().m_dRight - state.Window().m_dLeft, widthBefore); // the zoom stays

    // Delete in the table asks as the map does, and the fit of the eight good points is accepted.
    ui.AnswerMessage(IDYES);
    QTest::keyClick(panel.Table(), Qt::Key_Delete);
    ASSERT_FALSE(ui.m_Messages.empty());
    EXPECT_EQ(ui.m_Messages[0].m_strText, QStringLiteral("Delete this point?"));
    EXPECT_EQ(doc.ControlPoints().size(), 8u);
    EXPECT_TRUE(doc.IsGeoCoded());
    EXPECT_EQ(panel.Model().rowCount(), 8);
    EXPECT_TRUE(panel.Summary()->text().contains(QStringLiteral("accepted")));

    // Undo brings it back, in the table too; the menu says what it undoes.
    frame.UpdateCommandUI();
    EXPECT_EQ(frame.Action(ID_EDIT_UNDO)->text(), QStringLiteral("&Undo Delete Point 5"));
    frame.OnCommand(ID_EDIT_UNDO);
    EXPECT_EQ(doc.ControlPoints().size(), 9u);
    EXPECT_EQ(panel.Model().rowCount(), 9);
    EXPECT_FALSE(doc.IsGeoCoded());

    // A point moved on the map moves in the table at once; redo of the delete follows too.
    view.Actions().MovePoint(0, QPointF(0.5, 0.5));
    EXPECT_NEAR(Cell(panel, 0, ControlPointTableModel::PixelColumn), 0.5 * grid.Width(), 1e-9);
    frame.OnCommand(ID_EDIT_UNDO);
    frame.OnCommand(ID_EDIT_REDO);
    EXPECT_NEAR(Cell(panel, 0, ControlPointTableModel::PixelColumn), 0.5 * grid.Width(), 1e-9);

    // A point pressed with Move Points is chosen in the table too; a GeoTIFF needs no points.
    state.OnFitInWindow(doc, view);
    state.OnMovePoints(doc, view);
    const QPointF at = FrameToClient(ComputeVisibleFrame(doc, state), view.ClientSize().width(),
                                     view.ClientSize().height(), points[2].m_dImageX, points[2].m_dImageY);
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, at.toPoint());
    EXPECT_EQ(panel.SelectedPoint(), 2);
    LoadDegreeTiffMap(doc, 400, 200, {45.0, 7.0}, {1.0, 2.0});
    EXPECT_EQ(panel.Summary()->text(), QStringLiteral("Geo-coded by the map's GeoTIFF georeference: no control points are needed."));
}
