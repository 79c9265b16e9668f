#include "commands/PointEditCommands.h"
#include "document/CQuilletDoc.h"
#include "ScriptedUiServices.h"
#include "view/core/ReadOut.h"
#include "view/core/ViewGeometry.h"
#include "view/core/ViewState.h"

#include "FakeViewHost.h"
#include "ViewStateProbe.h"
#include "TestDocs.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

/// A 401 x 301 picture map in a 401 x 301 client: the picture fills the client exactly, a frame
/// unit is 400 pixels across and 300 down, and a picture pixel is 401/400 and 301/300 of a client one.
class MouseTest : public ::testing::Test {
protected:
    MouseTest()
    {
        LoadPictureMap(m_Doc, 401, 301);
        UpdateFrame(m_Doc, m_View, 401, 301);
    }

    /// Adds a point whose marker centre is at client (x, y), without a fit.
    void AddPointAt(int x, int y, double latitude = 0, double longitude = 0)
    {
        std::vector<CDataGeo> points = m_Doc.ControlPoints();
        points.push_back({latitude, longitude, x / 400.0, (300 - y) / 300.0});
        SetPointsAndModel(m_Doc, points, m_Doc.IsGeoCoded(), m_Doc.GeoCoef());
    }

    /// The map geo-coded by a model with the given six numbers.
    void SetModel(double c0, double c1, double c3, double c4, double c5, double c7)
    {
        SetPointsAndModel(m_Doc, m_Doc.ControlPoints(), true, GeoModel::FromAffine(c0, c1, c3, c4, c5, c7).Coefficients());
    }

    void Down(QPoint p) { m_View.OnLButtonDown(m_Doc, m_Host, m_Edits, p); }
    void Up(QPoint p) { m_View.OnLButtonUp(m_Doc, m_Host, m_Edits, p); }
    void DoubleClick(QPoint p) { m_View.OnLButtonDblClk(m_Doc, m_Host, m_Edits, p); }

    QPointF ClientOf(const CDataGeo& point) const
    {
        return FrameToClient(ComputeVisibleFrame(m_Doc, m_View), 401, 301, point.m_dImageX, point.m_dImageY);
    }

    /// Six points of a linear map, latitude from the row and longitude from the column.
    void SetUpSixPoints()
    {
        const QPoint at[] = {{40, 30}, {360, 40}, {200, 150}, {50, 270}, {350, 260}, {120, 200}};
        for (const QPoint p : at)
            AddPointAt(p.x(), p.y(), (45.0 - p.y() / 300.0) * 3600, (7.0 + p.x() / 400.0) * 3600);
    }

    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    CQuilletDoc m_Doc;
    ViewState m_View;
    FakeViewHost m_Host{QSize(401, 301)};
    PointEditCommands m_Edits{m_Doc};
};

} // namespace

TEST_F(MouseTest, HitSquareIsSevenPixels)
{
    AddPointAt(100, 100);
    const struct {
        int dx, dy;
        bool hit;
    } cases[] = {{0, 0, true}, {3, 3, true}, {-3, -3, true}, {3, -3, true}, {4, 0, false},
                 {0, 4, false}, {-4, 0, false}, {0, -4, false}, {4, 4, false}};
    for (const auto& c : cases) {
        m_View.HitTestPoint(m_Doc, 401, 301, 100 + c.dx, 100 + c.dy);
        EXPECT_EQ(m_View.SelectedPoint(), c.hit ? 0 : -1) << c.dx << "," << c.dy;
    }
}

TEST_F(MouseTest, OverlappingMarkersGoToTheNearestThenTheEarlier)
{
    AddPointAt(100, 100);
    AddPointAt(102, 100);
    AddPointAt(104, 100);
    m_View.HitTestPoint(m_Doc, 401, 301, 103, 100); // 3, 1, 1 away
    EXPECT_EQ(m_View.SelectedPoint(), 1);
    m_View.HitTestPoint(m_Doc, 401, 301, 101, 100); // 1, 1, 3: the earlier wins
    EXPECT_EQ(m_View.SelectedPoint(), 0);
    m_View.HitTestPoint(m_Doc, 401, 301, 105, 102); // only the third is in its square
    EXPECT_EQ(m_View.SelectedPoint(), 2);
    SetPointsAndModel(m_Doc, {}, false, {});
    m_View.HitTestPoint(m_Doc, 401, 301, 100, 100);
    EXPECT_EQ(m_View.SelectedPoint(), -1);
}

TEST_F(MouseTest, SixthConfirmedPointBringsTheFirstFitMessage)
{
    m_View.OnSetPoints(m_Doc);
    const QPoint at[] = {{40, 30}, {360, 40}, {200, 150}, {50, 270}, {350, 260}, {120, 200}};
    for (int i = 0; i < 6; ++i) {
        const QPoint p = at[i];
        m_Ui.AnswerCoordinates(QString::number(45.0 - p.y() / 300.0, 'f', 6), QString::number(7.0 + p.x() / 400.0, 'f', 6));
        Down(p);
        Up(p);
        EXPECT_EQ(m_Doc.ControlPoints().size(), size_t(i + 1));
        EXPECT_EQ(m_View.SelectedPoint(), i);
        EXPECT_EQ(m_Ui.m_Messages.size(), i < 5 ? 0u : 1u) << "after point " << i + 1;
    }
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Projection Accuracy"));
    EXPECT_TRUE(m_Doc.IsGeoCoded());
    // Each point is where it was clicked and has the coordinates typed for it.
    const QPointF first = ClientOf(m_Doc.ControlPoints()[0]);
    EXPECT_NEAR(first.x(), 40, 1e-9);
    EXPECT_NEAR(first.y(), 30, 1e-9);
    EXPECT_EQ(m_Doc.ControlPoints()[0].m_dLatitude, 44.9 * 3600);
    // Every dialog was the empty decimal one.
    ASSERT_EQ(m_Ui.m_Dialogs.size(), 6u);
    for (const auto& dialog : m_Ui.m_Dialogs) {
        EXPECT_EQ(dialog.m_Kind, ScriptedUiServices::DialogKind::DataInput);
        EXPECT_TRUE(dialog.m_Coordinates.m_strLatitude.isEmpty());
    }
}

TEST_F(MouseTest, CancellingTheDialogRemovesTheNewPointWithoutAFit)
{
    SetUpSixPoints();
    std::vector<CDataGeo> five = m_Doc.ControlPoints();
    five.pop_back();
    SetPointsAndModel(m_Doc, five, false, {});
    m_View.OnSetPoints(m_Doc);
    m_Ui.CancelDialog();
    Up(QPoint(10, 10));
    EXPECT_EQ(m_Doc.ControlPoints().size(), 5u);
    EXPECT_TRUE(m_Ui.m_Messages.empty());
    EXPECT_FALSE(m_Doc.IsGeoCoded());
}

TEST_F(MouseTest, FieldsThatAreNotNumbersBringTheDialogBackAsTyped)
{
    m_View.OnSetPoints(m_Doc);
    m_Ui.AnswerCoordinates(QStringLiteral("45.5"), QStringLiteral("east"));
    m_Ui.AnswerCoordinates(QStringLiteral("45.5"), QStringLiteral("7.25"));
    Up(QPoint(10, 10));
    ASSERT_EQ(m_Ui.m_Dialogs.size(), 2u);
    EXPECT_EQ(m_Ui.m_Dialogs[1].m_Coordinates.m_strLongitude, QStringLiteral("east"));
    EXPECT_EQ(m_Ui.m_Dialogs[1].m_Coordinates.m_nFocusField, 1); // back at the longitude
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid Coordinates"));
    ASSERT_EQ(m_Doc.ControlPoints().size(), 1u);
    EXPECT_EQ(m_Doc.ControlPoints()[0].m_dLongitude, 7.25 * 3600);
}

TEST_F(MouseTest, DegreeEntryAndReEditing)
{
    m_Doc.SetInputOption(InputNotation::DegreesMinutesSeconds);
    m_View.OnSetPoints(m_Doc);
    m_Ui.AnswerDegMinSec({QStringLiteral("-45"), QStringLiteral("30"), QStringLiteral("0"), QStringLiteral("-0"),
                          QStringLiteral("30"), QStringLiteral("0")});
    Up(QPoint(100, 100));
    ASSERT_EQ(m_Doc.ControlPoints().size(), 1u);
    EXPECT_EQ(m_Doc.ControlPoints()[0].m_dLatitude, -45.5 * 3600);
    EXPECT_EQ(m_Doc.ControlPoints()[0].m_dLongitude, -0.5 * 3600); // the sign of "-0" belongs to the value

    // A double-click opens the dialog filled with the point's values; confirming unchanged keeps them.
    m_View.OnSetPoints(m_Doc); // tool off
    std::vector<CDataGeo> west = m_Doc.ControlPoints();
    west[0].m_dLongitude = -0.5 * 3600;
    SetPointsAndModel(m_Doc, west, false, {});
    ScriptedUiServices::DialogAnswer keep;
    keep.m_OnDegMinSec = [](DegMinSecEntry&) { return IDOK; };
    m_Ui.m_DialogAnswers.push_back(keep);
    DoubleClick(QPoint(101, 99));
    const auto& opened = m_Ui.m_Dialogs.back().m_DegMinSec;
    EXPECT_EQ(opened.m_strLatDeg, QStringLiteral("-45"));
    EXPECT_EQ(opened.m_strLatMin, QStringLiteral("30"));
    EXPECT_NEAR(m_Doc.ControlPoints()[0].m_dLatitude, -45.5 * 3600, 1e-6);
    EXPECT_NEAR(m_Doc.ControlPoints()[0].m_dLongitude, -0.5 * 3600, 1e-6);
    EXPECT_EQ(m_View.SelectedPoint(), -1);

    // A double-click away from every point opens nothing.
    const size_t dialogs = m_Ui.m_Dialogs.size();
    DoubleClick(QPoint(300, 250));
    EXPECT_EQ(m_Ui.m_Dialogs.size(), dialogs);
}

TEST_F(MouseTest, SetPointsAddsOnThePictureEditsAPointAndIgnoresTheMargin)
{
    m_Host.m_Size = QSize(601, 301); // the picture is client x 100 to 500
    UpdateFrame(m_Doc, m_View, 601, 301);
    m_View.OnSetPoints(m_Doc);
    // A click and a double-click at: points after, dialogs opened, latitude of point 1 after.
    const struct { QPoint at; size_t points, dialogs; double latitude; } cases[] = {
        {{300, 150}, 1, 1, 10}, {{302, 153}, 1, 1, 10}, {{200, 100}, 2, 1, 45}, {{50, 150}, 1, 0, 45}, {{560, 10}, 1, 0, 45}};
    for (const auto& c : cases) {
        SetPointsAndModel(m_Doc, {{45.0 * 3600, 7.0 * 3600, 0.5, 0.5}}, false, {});
        m_Ui.m_Dialogs.clear();
        m_Ui.AnswerCoordinates(QStringLiteral("10"), QStringLiteral("20"));
        Up(c.at);
        DoubleClick(c.at);
        m_Ui.m_DialogAnswers.clear();
        EXPECT_EQ(std::tuple(m_Doc.ControlPoints().size(), m_Ui.m_Dialogs.size(), m_Doc.ControlPoints()[0].m_dLatitude),
                  std::tuple(c.points, c.dialogs, c.latitude * 3600)) << c.at.x();
    }
}

TEST_F(MouseTest, DecimalReEditShowsTheTypedNumbers)
{
    AddPointAt(100, 100, 45.123456 * 3600, -7.654321 * 3600);
    m_Ui.CancelDialog();
    DoubleClick(QPoint(100, 100));
    ASSERT_EQ(m_Ui.m_Dialogs.size(), 1u);
    EXPECT_EQ(m_Ui.m_Dialogs[0].m_Coordinates.m_strLatitude, QStringLiteral("45.123456"));
    EXPECT_EQ(m_Ui.m_Dialogs[0].m_Coordinates.m_strLongitude, QStringLiteral("-7.654321"));
    EXPECT_EQ(m_Doc.ControlPoints()[0].m_dLatitude, 45.123456 * 3600); // cancelled: unchanged
}

TEST_F(MouseTest, DeletingRenumbersAndRefits)
{
    SetUpSixPoints();
    AddPointAt(300, 100, (45.0 - 100.0 / 300) * 3600, 7.75 * 3600);
    m_View.OnDeletePoint(m_Doc);
    m_Ui.AnswerMessage(IDNO);
    Up(QPoint(200, 150));
    EXPECT_EQ(m_Doc.ControlPoints().size(), 7u);
    EXPECT_EQ(m_View.SelectedPoint(), 2); // declined: the point stays selected
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strText, QStringLiteral("Delete this point?"));
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Point Deletion"));
    EXPECT_EQ(m_Ui.m_Messages[0].m_nType, MB_YESNO | MB_ICONINFORMATION);

    m_Ui.AnswerMessage(IDYES);
    Up(QPoint(200, 150));
    ASSERT_EQ(m_Doc.ControlPoints().size(), 6u);
    EXPECT_EQ(m_View.SelectedPoint(), -1);
    // The later points moved down one place, and the fit ran on the six that are left.
    EXPECT_NEAR(ClientOf(m_Doc.ControlPoints()[2]).x(), 50, 1e-9);
    EXPECT_EQ(m_Ui.m_Messages.back().m_strCaption, QStringLiteral("Projection Accuracy"));
    // A click on no point asks nothing.
    const size_t asked = m_Ui.m_Messages.size();
    Up(QPoint(5, 5));
    EXPECT_EQ(m_Ui.m_Messages.size(), asked);
}

TEST_F(MouseTest, DraggingAPointLiftsItThenStoresTheReleasePosition)
{
    SetUpSixPoints();
    const std::vector<CDataGeo> before = m_Doc.ControlPoints();
    m_View.OnMovePoints(m_Doc, m_Host);
    Down(QPoint(201, 151));
    ASSERT_EQ(m_View.SelectedPoint(), 2);
    EXPECT_EQ(m_View.DraggedPoint(), 2);
    EXPECT_EQ(m_Doc.ControlPoints(), before); // the document changes only when the point is dropped
    m_View.HitTestPoint(m_Doc, 401, 301, 200, 150);
    EXPECT_EQ(m_View.SelectedPoint(), -1); // the lifted point is not on the map
    ViewStateProbe::SelectedPoint(m_View) = 2;
    EXPECT_TRUE(m_Host.m_bCaptured);

    m_Host.m_Feedback.clear();
    m_View.OnMouseMove(m_Doc, m_Host, QPoint(250, 120));
    EXPECT_EQ(ViewStateProbe::MoveAt(m_View), QPoint(250, 120));
    ASSERT_FALSE(m_Host.m_Feedback.empty());
    EXPECT_TRUE(m_Host.m_Feedback.back().contains(QRect(234, 104, 32, 32)));

    // Released outside the client area: the position is taken as it is, off the picture.
    Up(QPoint(450, -20));
    EXPECT_FALSE(m_Host.m_bCaptured);
    EXPECT_EQ(m_View.SelectedPoint(), -1);
    EXPECT_EQ(m_View.DraggedPoint(), -1);
    EXPECT_EQ(ViewStateProbe::MoveAt(m_View), QPoint(-1, -1));
    const QPointF dropped = ClientOf(m_Doc.ControlPoints()[2]);
    EXPECT_NEAR(dropped.x(), 450, 1e-9);
    EXPECT_NEAR(dropped.y(), -20, 1e-9);
    EXPECT_GT(m_Doc.ControlPoints()[2].m_dImageX, 1.0);
    ASSERT_FALSE(m_Ui.m_Messages.empty()); // refitted with the point far off: rejected
    EXPECT_FALSE(m_Doc.IsGeoCoded());
    EXPECT_EQ(m_Doc.UndoStack().undoText(), QStringLiteral("Move Point 3"));

    // Picked up and put down where it was: no edit, nothing to undo.
    const int steps = m_Doc.UndoStack().count();
    const std::vector<CDataGeo> placed = m_Doc.ControlPoints();
    Down(QPoint(40, 30));
    Up(QPoint(40, 30));
    EXPECT_EQ(m_Doc.UndoStack().count(), steps);
    EXPECT_EQ(m_Doc.ControlPoints(), placed);
}

TEST_F(MouseTest, ReadOutPanesForAGeoCodedMap)
{
    // Latitude 45 at the top row to 44 at the bottom, longitude 7 at the left to 8 at the right.
    SetModel(0, 400, -2800, -300, 0, 13500); // column = 400 (lon - 7), row = 300 (45 - lat)
    m_View.OnMouseMove(m_Doc, m_Host, QPoint(200, 150));
    EXPECT_EQ(m_Host.m_PaneOrder, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(m_Host.m_Panes[1], QStringLiteral("(200, 150)"));
    EXPECT_EQ(m_Host.m_Panes[2], QStringLiteral("(7.50000, 44.50000)"));
    EXPECT_EQ(m_Host.m_Panes[3], QStringLiteral("( 7-30-0.0 E, 44-30-0.0 N )"));
    EXPECT_EQ(m_Host.m_Panes[4], QString());

    // Not geo-coded: the panes are left alone.
    SetPointsAndModel(m_Doc, {}, false, m_Doc.GeoCoef());
    m_Host.m_PaneOrder.clear();
    m_View.OnMouseMove(m_Doc, m_Host, QPoint(10, 10));
    EXPECT_TRUE(m_Host.m_PaneOrder.empty());
    EXPECT_EQ(m_Host.m_Panes[1], QStringLiteral("(200, 150)"));
}

TEST_F(MouseTest, MeasuringGivesTheDistanceThenSwitchesItselfOff)
{
    // The client's right edge, picture pixel 401, is longitude 1; latitude 0 on the top row.
    SetModel(0, 401, 0, -300, 0, 0);
    m_Doc.SetUnitFactor(1.0);
    m_View.OnMeasure(m_Doc);
    Down(QPoint(0, 0));
    EXPECT_TRUE(ViewStateProbe::Measuring(m_View));
    m_View.OnMouseMove(m_Doc, m_Host, QPoint(400, 0));
    const double degree = GreatCircleDistance(0, 0, 0, 1);
    EXPECT_EQ(m_Host.m_Panes[4], QString::asprintf("d = %3.5f KMs", degree / 1000));
    EXPECT_EQ(ViewStateProbe::MeasureEnd(m_View), QPoint(400, 0));
    Up(QPoint(400, 0));
    EXPECT_FALSE((m_View.ActiveTool() == Tool::Measure));
    EXPECT_FALSE(ViewStateProbe::Measuring(m_View));
    // The last distance stays until the next move over the map.
    EXPECT_EQ(m_Host.m_Panes[4], QString::asprintf("d = %3.5f KMs", degree / 1000));

    // A first point outside the client area is refused.
    m_View.OnMeasure(m_Doc);
    Down(QPoint(-5, 10));
    EXPECT_FALSE(ViewStateProbe::Measuring(m_View));
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strText, QStringLiteral("The 1st Point Is Out of View!"));
}

TEST_F(MouseTest, RangeFractionsAreTheSameWhicheverWayItIsDragged)
{
    SetModel(0, 400, 0, -300, 0, 0);
    m_View.OnSelectRange(m_Host);
    const auto drag = [&](QPoint from, QPoint to) {
        Down(from);
        m_View.OnMouseMove(m_Doc, m_Host, to);
        Up(to);
        const OutputRange range = *m_View.SelectedOutputRange();
        return std::array<double, 4>{range.m_dLeft, range.m_dRight, range.m_dTop, range.m_dBottom};
    };
    const auto forward = drag(QPoint(100, 75), QPoint(300, 225));
    const auto backward = drag(QPoint(300, 225), QPoint(100, 75));
    EXPECT_EQ(forward, backward);
    EXPECT_DOUBLE_EQ(forward[0], 0.25);
    EXPECT_DOUBLE_EQ(forward[1], 0.75);
    EXPECT_DOUBLE_EQ(forward[2], 0.25);
    EXPECT_DOUBLE_EQ(forward[3], 0.75);
    EXPECT_TRUE(m_View.HasRange());
    EXPECT_FALSE(ViewStateProbe::RangeDragging(m_View));
}
