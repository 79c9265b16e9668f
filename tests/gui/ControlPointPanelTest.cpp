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

TEST(ControlPointPanel, FollowsTheTransformationChosenForTheMap)
{
    // A 3 x 3 grid on a map whose longitude and latitude are exact polynomials of order 2 in the
    // pixel: the order-2 fit and the spline pass through every point, an affine fit cannot.
    constexpr int kWidth = 2000, kHeight = 1000;
    std::vector<CDataGeo> points;
    for (double column : {100.0, 1000.0, 1900.0})
        for (double row : {100.0, 500.0, 900.0}) {
            const double c = column / 1000.0, r = row / 1000.0;
            const double lon = 10.0 + c + 0.2 * c * c, lat = 45.0 - r + 0.1 * r * r - 0.05 * c * r;
            points.push_back(MakeControlPoint(lat, lon, column, row, kWidth, kHeight));
        }
    const auto largest = [](ControlPointPanel& panel, int column) {
        double worst = 0.0;
        for (int i = 0; i < panel.Model().rowCount(); ++i)
            worst = std::max(worst, Cell(panel, i, column));
        return worst;
    };
    struct Case {
        int transform; ///< list index, as the dialog gives it
        int crsKind;
        QString crs;
        QString changed;   ///< the transformation afterwards, empty when the choice is refused
        QString told;      ///< a message box's (refused, accepted) or the status bar's (too few) words
        QString summary;   ///< in the table's summary; empty: the summary is as it was
        bool leftOutExact; ///< the fit to the other points passes through each left out too
    };
    const Case cases[] = {
        {3, 0, {}, QStringLiteral("poly2"), QStringLiteral("successfully geo coded"), QStringLiteral("poly2, fitted in latitude"), true},
        {5, 2, QStringLiteral("EPSG:32632"), QStringLiteral("tps"), QStringLiteral("successfully geo coded"),
         QStringLiteral("zero by construction"), false},
        {4, 0, {}, QStringLiteral("poly3"), QStringLiteral("10"), QStringLiteral("9 of 10 points needed"), false},
        {3, 2, QStringLiteral("EPSG:999999"), {}, QStringLiteral("\"EPSG:999999\" is not one PROJ knows"), {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.transform);
        ScriptedUiServices ui;
        ScopedUiServices installed(ui);
        CQuilletDoc doc;
        CMainFrame frame(doc);
        frame.Create(0);
        ControlPointPanel& panel = *frame.ControlPoints();
        LoadPictureMap(doc, kWidth, kHeight);
        doc.EditPoints(QStringLiteral("Add"), points);
        ASSERT_GT(largest(panel, ControlPointTableModel::Residual), 30.0); // affine: tens of arc-seconds
        const QString before = panel.Summary()->text();
        ScriptedUiServices::DialogAnswer answer;
        answer.m_OnTransformation = [&c](TransformationEntry& entry) {
            entry = {c.transform, c.crsKind, c.crs};
            return IDOK;
        };
        ui.m_DialogAnswers.push_back(answer);
        frame.OnCommand(ID_TRANSFORMATION);

        const QString said = (ui.m_Messages.empty() ? QString() : ui.m_Messages.back().m_strText) +
                             (ui.m_StatusTexts.empty() ? QString() : ui.m_StatusTexts.back());
        EXPECT_TRUE(said.contains(c.told)) << said.toStdString();
        EXPECT_TRUE(c.summary.isEmpty() ? panel.Summary()->text() == before : panel.Summary()->text().contains(c.summary))
            << panel.Summary()->text().toStdString();
        if (c.changed.isEmpty()) {
            // Refused: the dialog came back (and was cancelled); nothing changed.
            EXPECT_EQ(ui.m_Dialogs.size(), 2u);
            EXPECT_TRUE(doc.Choice().IsDefault());
            EXPECT_EQ(doc.UndoStack().count(), 1);
            continue;
        }
        EXPECT_EQ(TransformKindName(doc.Choice().m_eTransform), c.changed);
        EXPECT_EQ(doc.IsGeoCoded(), c.changed != QStringLiteral("poly3"));
        if (doc.IsGeoCoded()) {
            EXPECT_LT(largest(panel, ControlPointTableModel::Residual), 1e-3);
            const double leftOut = largest(panel, ControlPointTableModel::LeftOut);
            EXPECT_TRUE(c.leftOutExact ? leftOut < 1e-3 : leftOut > 1.0) << leftOut;
        }
        frame.OnCommand(ID_EDIT_UNDO);
        EXPECT_TRUE(doc.Choice().IsDefault());
        EXPECT_GT(largest(panel, ControlPointTableModel::Residual), 30.0);
    }
}
