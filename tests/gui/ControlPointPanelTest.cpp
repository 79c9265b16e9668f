// The residual workbench: the control-point table, the map and the edit history stay in step.

#include "app/CMainFrame.h"
#include "app/ControlPointPanel.h"
#include "document/CQuilletDoc.h"
#include "resources/Resource.h"
#include "view/core/ViewGeometry.h"
#include "view/widgets/CQuilletView.h"
#include "ScriptedUiServices.h"

#include "FitTestPoints.h"
#include "ProjReference.h"
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

TEST(ControlPointPanel, FindsTheMapsProjectionAndFitsInThePick)
{
    // Maps drawn in a projection, PROJ giving each pixel's position: the right family reads it out.
    constexpr int kSize = 3000;
    struct Case {
        const char *projected, *geographic; ///< the map's projection, its datum's latitude and longitude
        double left, top, metresPerPixel;   ///< the projected coordinates of the top-left corner
        QString family;                     ///< the first candidate's; empty when the points cannot tell
    };
    const Case cases[] = {
        {"EPSG:3413", "EPSG:4326", -1.2e6, 1.7e6, 1000.0, QStringLiteral("+proj=stere ")}, // Arctic
        {"EPSG:3034", "EPSG:4258", 2.5e6, 4.3e6, 1000.0, QStringLiteral("+proj=lcc ")},    // Europe
        {"EPSG:3034", "EPSG:4258", 4.0e6, 2.8e6, 1.0, {}},                                    // 3 km of it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.projected) + " " + std::to_string(c.metresPerPixel));
        const auto truth = [&c](double column, double row) {
            return ReferenceInverse(c.projected, c.geographic, c.left + column * c.metresPerPixel,
                                    c.top - row * c.metresPerPixel);
        };
        std::vector<CDataGeo> points; // 5 x 5, none at the pole
        for (double column = 150.0; column < kSize; column += 675.0)
            for (double row = 250.0; row < kSize; row += 625.0)
                points.push_back(MakeControlPoint(truth(column, row).m_dLatitude, truth(column, row).m_dLongitude,
                                                  column, row, kSize, kSize));
        ScriptedUiServices ui;
        ScopedUiServices installed(ui);
        CQuilletDoc doc;
        CMainFrame frame(doc);
        frame.Create(0);
        LoadPictureMap(doc, kSize, kSize);
        doc.EditPoints(QStringLiteral("Add"), points);
        const int steps = doc.UndoStack().count();
        ui.m_DialogAnswers = {{.m_OnTransformation = [](TransformationEntry& e) { return e.m_bFindProjection = true, IDOK; }},
                              {.m_OnProjection = [](ProjectionPick& pick) { return pick.m_nSelection == 0 ? IDOK : IDCANCEL; }}};
        frame.OnCommand(ID_TRANSFORMATION);

        EXPECT_EQ(ui.m_LongWork.size(), 1u);
        EXPECT_EQ(doc.UndoStack().count(), steps + (c.family.isEmpty() ? 0 : 1));
        ASSERT_EQ(ui.m_Dialogs.size(), c.family.isEmpty() ? 1u : 2u); // a refusal lists nothing to pick
        if (c.family.isEmpty()) {
            EXPECT_TRUE(ui.m_Messages.size() == 1 && ui.m_Messages[0].m_strText.contains(QStringLiteral("cannot be told")));
            continue;
        }
        const std::vector<ProjectionPick::Row>& rows = ui.m_Dialogs[1].m_Projection.m_Rows;
        ASSERT_GE(rows.size(), 2u); // best first
        EXPECT_TRUE(rows[0].m_strCrs.startsWith(c.family)) << rows[0].m_strCrs.toStdString();
        for (std::size_t i = 1; i < rows.size(); ++i)
            EXPECT_LE(rows[i - 1].m_dLooRmsMetres, rows[i].m_dLooRmsMetres);
        EXPECT_EQ(doc.Choice().m_FitCrs.Text(), rows[0].m_strCrs);
        EXPECT_EQ(doc.Choice().m_eTransform, TransformKind::Affine);
        // Beyond the points, where a fit in the wrong projection strays most.
        const std::optional<GeoPosition> read = doc.PositionOfPixel(2900.0, 80.0);
        ASSERT_TRUE(read.has_value());
        const LatLon expected = truth(2900.0, 80.0);
        const double north = (read->m_dLatitude - expected.m_dLatitude) * 111320.0;
        const double east = (read->m_dLongitude - expected.m_dLongitude) * 111320.0 * std::cos(expected.m_dLatitude * M_PI / 180.0);
        EXPECT_LT(std::hypot(north, east), 5.0);
    }
}
