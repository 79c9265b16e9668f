#include "commands/OptionCommands.h"
#include "commands/OutputCommand.h"
#include "commands/PointEditCommands.h"
#include "document/CQuilletDoc.h"
#include "ScriptedUiServices.h"
#include "view/core/ViewGeometry.h"
#include "view/core/ViewState.h"

#include "FakeViewHost.h"
#include "ViewStateProbe.h"
#include "RecordingView.h"
#include "TestDocs.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

class ViewTest : public ::testing::Test {
protected:
    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    CQuilletDoc m_Doc;
    ViewState m_View;
    FakeViewHost m_Host{QSize(401, 301)};
    PointEditCommands m_Edits{m_Doc};
};

} // namespace

TEST_F(ViewTest, FrameWidensToTheClientsProportions)
{
    const struct {
        int width, height, cw, ch;
        double originLat, extentLat, originLon, extentLon;
    } cases[] = {
        // A picture wider than the client: the vertical axis gets the room to spare.
        {800, 200, 400, 400, (1 - 4.0) / 2, 4.0, 0.0, 1.0},
        // Taller than the client: the horizontal axis widens.
        {100, 400, 400, 400, 0.0, 1.0, (1 - 4.0) / 2, 4.0},
        // Same proportions: nothing to widen.
        {300, 200, 600, 400, 0.0, 1.0, 0.0, 1.0},
    };
    for (const auto& c : cases) {
        CQuilletDoc doc;
        LoadPictureMap(doc, c.width, c.height);
        UpdateFrame(doc, m_View, c.cw, c.ch);
        EXPECT_DOUBLE_EQ(m_View.FrameOrigin().m_dLatitude, c.originLat) << c.width << "x" << c.height;
        EXPECT_DOUBLE_EQ(m_View.FrameExtent().m_dLatitude, c.extentLat);
        EXPECT_DOUBLE_EQ(m_View.FrameOrigin().m_dLongitude, c.originLon);
        EXPECT_DOUBLE_EQ(m_View.FrameExtent().m_dLongitude, c.extentLon);
    }
    // Without a map size the frame stays as it was.
    CQuilletDoc empty;
    m_View.SetFrame(m_View.FrameOrigin(), {3, 3, 0, 0});
    UpdateFrame(empty, m_View, 100, 100);
    EXPECT_EQ(m_View.FrameExtent(), (CDataGeo{3, 3, 0, 0}));
}

TEST_F(ViewTest, GeoTiffFrameWidensAroundItsDegrees)
{
    // Spans of 2 and 4 degrees are scales of 0.004 per pixel: read as degrees.
    LoadDegreeTiffMap(m_Doc, 1000, 500, {20.0, -80.0}, {2.0, 4.0});
    ASSERT_TRUE(m_Doc.HasGeoTiffFrame());
    UpdateFrame(m_Doc, m_View, 400, 400); // rx = 2.5, ry = 1.25: widen vertically by 2
    EXPECT_DOUBLE_EQ(m_View.FrameOrigin().m_dLatitude, 20.0 + (1 - 2.0) * 2.0 / 2);
    EXPECT_DOUBLE_EQ(m_View.FrameExtent().m_dLatitude, 4.0);
    EXPECT_DOUBLE_EQ(m_View.FrameOrigin().m_dLongitude, -80.0);
    EXPECT_DOUBLE_EQ(m_View.FrameExtent().m_dLongitude, 4.0);
}

TEST_F(ViewTest, MappingsBetweenClientAndFrame)
{
    LoadPictureMap(m_Doc, 400, 300);
    UpdateFrame(m_Doc, m_View, 401, 301);
    const VisibleFrame frame = ComputeVisibleFrame(m_Doc, m_View);
    // The corners of the client are the corners of the visible frame.
    EXPECT_EQ(ClientToFrame(frame, 401, 301, 0, 300), QPointF(frame.X0, frame.Y0));
    EXPECT_EQ(ClientToFrame(frame, 401, 301, 400, 0), QPointF(frame.X0 + frame.WW, frame.Y0 + frame.HH));
    for (const QPointF client : {QPointF(0, 0), QPointF(123.5, 77), QPointF(400, 300), QPointF(-20, 350)}) {
        const QPointF there = ClientToFrame(frame, 401, 301, client.x(), client.y());
        const QPointF back = FrameToClient(frame, 401, 301, there.x(), there.y());
        EXPECT_NEAR(back.x(), client.x(), 1e-9);
        EXPECT_NEAR(back.y(), client.y(), 1e-9);
    }
    // Zoomed to the upper right quarter.
    m_View.SetWindow({0.5, 0.5, 1.0, 1.0});
    const VisibleFrame quarter = ComputeVisibleFrame(m_Doc, m_View);
    EXPECT_DOUBLE_EQ(quarter.WW, m_View.FrameExtent().m_dLongitude * 0.5);
    EXPECT_DOUBLE_EQ(quarter.X0, m_View.FrameOrigin().m_dLongitude + m_View.FrameExtent().m_dLongitude * 0.5);
}

TEST_F(ViewTest, PictureRectangleIsCentredForTheWholeFrame)
{
    LoadPictureMap(m_Doc, 800, 200);
    UpdateFrame(m_Doc, m_View, 401, 401);
    const PictureRect r = ComputePictureRect(m_Doc, ComputeVisibleFrame(m_Doc, m_View), 401, 401);
    EXPECT_EQ(r.xL, 0);
    EXPECT_EQ(r.xR, 400);
    // The picture is a quarter as high as the frame and centred: rows 150 to 250.
    EXPECT_EQ(r.yT, 150);
    EXPECT_EQ(r.yB, 250);
}

TEST_F(ViewTest, ExtremeWindowsKeepEveryClientValueInRange)
{
    // Windows a workspace reader lets through, and frames a GeoTIFF may give, taken to their
    // extremes: no client coordinate leaves the int range (the sanitized build would stop on a
    // conversion that did), and the display copy never outgrows the image.
    LoadPictureMap(m_Doc, 800, 200);
    const struct {
        const char* name;
        double left, right, bottom, top;
        QSize display; ///< expected, or (-1, -1): anything within the image
    } cases[] = {
        // So deep a zoom that the map covers billions of pixels: held to the image.
        {"a window of 1e-12", 0.5, 0.5 + 1e-12, 0.5, 0.5 + 1e-12, QSize(800, 200)},
        // An empty window divides by zero: infinities and NaN are held too.
        {"an empty window", 0.25, 0.25, 0.25, 0.25, QSize(-1, -1)},
        // Far outside the frame the map is a pixel or none.
        {"a window far to the right", 900.0, 1000.0, 0.0, 1.0, QSize(-1, -1)},
        {"a window far below", 0.0, 1.0, -1000.0, -999.0, QSize(-1, -1)},
        {"the whole frame", 0.0, 1.0, 0.0, 1.0, QSize(400, 100)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_View.SetWindow({c.left, c.bottom, c.right, c.top});
        UpdateFrame(m_Doc, m_View, 401, 401);
        const PictureRect r = ComputePictureRect(m_Doc, ComputeVisibleFrame(m_Doc, m_View), 401, 401);
        for (const int edge : {r.xL, r.xR, r.yB, r.yT})
            EXPECT_LE(std::abs(std::int64_t(edge)), std::int64_t(1) << 30);
        const QSize display = m_View.GetDisplaySize(m_Doc, 401, 401);
        if (c.display.width() >= 0) {
            EXPECT_EQ(display, c.display);
        } else {
            EXPECT_TRUE(display.width() >= 0 && display.width() <= 800 && display.height() >= 0 && display.height() <= 200);
        }
    }

    // A window a hair under the whole frame scrolls to a position within the bar's range.
    m_View.SetWindow({0.5, 0.0, 0.5 + (1.0 - 1e-16) / 0.8, (1.0 - 1e-16) / 0.8});
    m_View.OnZoomIn(m_Doc);
    ASSERT_TRUE(m_View.ZoomAtPoint(m_Doc, m_Host, m_Edits, 200, 150));
    EXPECT_GE(m_View.HScrollPos(), 0);
    EXPECT_LE(m_View.HScrollPos(), 1000);
}

TEST_F(ViewTest, ZoomInElevenTimesThenJumpBack)
{
    LoadPictureMap(m_Doc, 400, 300);
    m_View.OnZoomIn(m_Doc);
    for (int click = 1; click <= 11; ++click) {
        ASSERT_TRUE(m_View.ZoomAtPoint(m_Doc, m_Host, m_Edits, 200, 150));
        EXPECT_NEAR(m_View.Window().Width(), std::pow(0.8, click), 1e-12) << click;
        EXPECT_NEAR(m_View.Window().Height(), std::pow(0.8, click), 1e-12) << click;
    }
    EXPECT_NEAR(m_View.Window().Width(), 0.0859, 1e-4);
    ASSERT_TRUE(m_View.ZoomAtPoint(m_Doc, m_Host, m_Edits, 200, 150));
    EXPECT_EQ(m_View.Window().m_dLeft, 0.0);
    EXPECT_EQ(m_View.Window().m_dRight, 1.0);
    EXPECT_EQ(m_View.Window().Width(), 1.0);
    EXPECT_EQ(m_Host.m_nInvalidations, 12);
}

TEST_F(ViewTest, ZoomOutEightTimesThenJumpBack)
{
    LoadPictureMap(m_Doc, 400, 300);
    m_View.OnZoomOut(m_Doc);
    for (int click = 1; click <= 8; ++click) {
        ASSERT_TRUE(m_View.ZoomAtPoint(m_Doc, m_Host, m_Edits, 200, 150));
        EXPECT_NEAR(m_View.Window().Width(), std::pow(1.25, click), 1e-9) << click;
        // The bounds hold the window (at the eighth click, 5.96 frames wide, it just overhangs).
        EXPECT_GE(m_View.Window().m_dLeft, -2.4802 - 1e-12);
        EXPECT_LE(m_View.Window().m_dRight, 3.4802 + 1e-3);
    }
    EXPECT_NEAR(m_View.Window().Width(), 5.96, 0.01);
    ASSERT_TRUE(m_View.ZoomAtPoint(m_Doc, m_Host, m_Edits, 200, 150));
    EXPECT_EQ(m_View.Window().Width(), 1.0);
    EXPECT_EQ(m_View.Window().m_dBottom, 0.0);
}

TEST_F(ViewTest, ZoomNearAnEdgeKeepsThatEdge)
{
    LoadPictureMap(m_Doc, 400, 300);
    m_View.OnZoomIn(m_Doc);
    // Right edge: [right - 0.8w, right]; the top edge likewise.
    ASSERT_TRUE(m_View.ZoomAtPoint(m_Doc, m_Host, m_Edits, 395, 5));
    EXPECT_DOUBLE_EQ(m_View.Window().m_dRight, 1.0);
    EXPECT_DOUBLE_EQ(m_View.Window().m_dLeft, 0.2);
    EXPECT_DOUBLE_EQ(m_View.Window().m_dTop, 1.0);
    EXPECT_DOUBLE_EQ(m_View.Window().m_dBottom, 0.2);
    EXPECT_EQ(m_View.HScrollPos(), 1000);
    EXPECT_EQ(m_View.VScrollPos(), 0);

    ViewState left;
    left.OnZoomIn(m_Doc);
    ASSERT_TRUE(left.ZoomAtPoint(m_Doc, m_Host, m_Edits, 2, 298));
    EXPECT_DOUBLE_EQ(left.Window().m_dLeft, 0.0);
    EXPECT_DOUBLE_EQ(left.Window().m_dRight, 0.8);
    EXPECT_EQ(left.HScrollPos(), 0);

    // A click in the middle of an even-sized client gives the window (0.1, 0.9): half way.
    FakeViewHost even(QSize(400, 300));
    ViewState centre;
    centre.OnZoomIn(m_Doc);
    ASSERT_TRUE(centre.ZoomAtPoint(m_Doc, even, m_Edits, 200, 150));
    EXPECT_DOUBLE_EQ(centre.Window().m_dLeft, 0.1);
    EXPECT_DOUBLE_EQ(centre.Window().m_dRight, 0.9);
    EXPECT_EQ(centre.HScrollPos(), 500);
    EXPECT_EQ(centre.VScrollPos(), 500);
}

TEST_F(ViewTest, ZoomClickOutsideTheClientIsRefused)
{
    LoadPictureMap(m_Doc, 400, 300);
    m_View.OnZoomIn(m_Doc);
    for (const QPoint outside : {QPoint(401, 10), QPoint(-1, 10), QPoint(10, 301), QPoint(10, -5)}) {
        EXPECT_FALSE(m_View.ZoomAtPoint(m_Doc, m_Host, m_Edits, outside.x(), outside.y()));
        EXPECT_EQ(m_View.Window().Width(), 1.0);
    }
    ASSERT_EQ(m_Ui.m_Messages.size(), 4u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strText, QStringLiteral("The Point Is Out of View!"));
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid Point"));
    EXPECT_EQ(m_Ui.m_Messages[0].Icon(), MB_ICONSTOP);
    EXPECT_EQ(m_Host.m_nInvalidations, 0);
}

TEST_F(ViewTest, ScrollCodesMoveTheWindow)
{
    // A window 0.5 high in a client 300 high: 300 pixels can be scrolled; a line of 16 pixels is
    // 53.33 (53) thousandths, a page 1000.
    m_View.SetWindow({0.0, 0.25, 1.0, 0.75});
    ViewStateProbe::VScrollPos(m_View) = 500;
    const struct {
        int code, thumb, position;
    } vertical[] = {
        {SB_LINEDOWN, 0, 553}, {SB_LINEDOWN, 0, 606}, {SB_LINEUP, 0, 553}, {SB_PAGEUP, 0, 0},
        {SB_PAGEDOWN, 0, 1000}, {SB_THUMBTRACK, 321, 321}, {SB_THUMBPOSITION, 40, 40}, {SB_BOTTOM, 0, 1000},
        {SB_TOP, 0, 0}, {SB_ENDSCROLL, 0, 0}, {SB_LINEUP, 0, 0},
    };
    for (const auto& step : vertical) {
        EXPECT_EQ(m_View.OnVScroll(step.code, step.thumb, 300, 16), step.position) << step.code;
        EXPECT_EQ(m_View.VScrollPos(), step.position);
        // Position 0 shows the top of the frame, 1000 its bottom.
        EXPECT_NEAR(m_View.Window().m_dBottom, 0.5 * (1000 - step.position) / 1000, 1e-12);
        EXPECT_NEAR(m_View.Window().m_dTop - m_View.Window().m_dBottom, 0.5, 1e-12);
    }
    m_View.SetWindow({0.0, m_View.Window().m_dBottom, 0.8, m_View.Window().m_dTop});
    // 400 / 0.8 - 400 = 100 pixels; a line of 10 pixels is 100 thousandths, a page 4000.
    EXPECT_EQ(m_View.OnHScroll(SB_LINERIGHT, 0, 400, 10), 100);
    EXPECT_NEAR(m_View.Window().m_dLeft, 0.02, 1e-12);
    EXPECT_EQ(m_View.OnHScroll(SB_PAGERIGHT, 0, 400, 10), 1000);
    EXPECT_NEAR(m_View.Window().m_dRight, 1.0, 1e-12);
    EXPECT_EQ(m_View.OnHScroll(SB_LEFT, 0, 400, 10), 0);
    EXPECT_EQ(m_View.Window().m_dLeft, 0.0);
}

TEST_F(ViewTest, ScrollStepsRoundAboveOneHalfAndAreAtLeastOne)
{
    // A step of exactly one half goes down, more goes up; steps below 1 become 1.
    const struct {
        double height; // window height, client 200 pixels high
        int textHeight;
        int line;
    } cases[] = {
        {0.5, 1, 5},   // 200 pixels to scroll: 5.0
        {0.5, 0, 1},   // 0 raised to 1
        {0.8, 1, 20},  // 250 - 200 = 50 pixels
        {0.6, 2, 15},  // trunc(333.3) - 200 = 133: 15.04
        {0.6, 1, 8},   // 7.52 goes up
        {0.9, 1, 45},  // trunc(222.2) - 200 = 22: 45.45
        {0.64, 1, 9},  // trunc(312.5) - 200 = 112: 8.93 goes up
        {0.8, 2, 40},
    };
    for (const auto& c : cases) {
        m_View.SetWindow({0.0, 0.0, 1.0, c.height});
        ViewStateProbe::VScrollPos(m_View) = 0;
        EXPECT_EQ(m_View.OnVScroll(SB_LINEDOWN, 0, 200, c.textHeight), c.line) << c.height << " " << c.textHeight;
    }
}

TEST_F(ViewTest, ToolsExcludeEachOther)
{
    LoadPictureMap(m_Doc, 400, 300);
    SetPointsAndModel(m_Doc, {}, true, {});
    m_View.OnZoomIn(m_Doc);
    EXPECT_TRUE((m_View.ActiveTool() == Tool::ZoomIn));
    m_View.OnSetPoints(m_Doc);
    EXPECT_TRUE((m_View.ActiveTool() == Tool::SetPoints));
    EXPECT_FALSE((m_View.ActiveTool() == Tool::ZoomIn));
    m_View.OnMovePoints(m_Doc, m_Host);
    EXPECT_TRUE((m_View.ActiveTool() == Tool::MovePoint));
    EXPECT_FALSE((m_View.ActiveTool() == Tool::SetPoints));
    EXPECT_EQ(m_View.SelectedPoint(), -1);
    m_View.OnMeasure(m_Doc);
    EXPECT_TRUE((m_View.ActiveTool() == Tool::Measure));
    EXPECT_FALSE((m_View.ActiveTool() == Tool::MovePoint));
    m_View.OnMeasure(m_Doc); // toggled off: no tool at all
    EXPECT_FALSE((m_View.ActiveTool() == Tool::Measure));

    m_View.OnDeletePoint(m_Doc);
    ViewStateProbe::RangeStart(m_View) = QPoint(5, 5);
    ViewStateProbe::RangeEnd(m_View) = QPoint(50, 60);
    m_View.OnSelectRange(m_Host); // on: the others go off
    EXPECT_TRUE((m_View.ActiveTool() == Tool::SelectRange));
    EXPECT_FALSE((m_View.ActiveTool() == Tool::DeletePoint));
    EXPECT_TRUE(m_View.HasRange());
    m_View.OnZoomOut(m_Doc); // another tool on: range tool off, corners kept
    EXPECT_FALSE((m_View.ActiveTool() == Tool::SelectRange));
    m_View.OnSelectRange(m_Host);
    m_View.OnSelectRange(m_Host); // off: both corners cleared
    EXPECT_FALSE((m_View.ActiveTool() == Tool::SelectRange));
    EXPECT_EQ(ViewStateProbe::RangeStart(m_View), QPoint(-1, -1));
    EXPECT_EQ(ViewStateProbe::RangeEnd(m_View), QPoint(-1, -1));
    EXPECT_FALSE(m_View.HasRange());
    // Another image keeps a range and a message; a new map (New, Open, a drop, recovery) does not.
    m_View.OnSelectRange(m_Host);
    ViewStateProbe::RangeStart(m_View) = ViewStateProbe::RangeEnd(m_View) = QPoint(5, 5);
    for (const long hint : {DocChange::kImage, DocChange::kAll}) {
        m_Host.m_Panes[0] = QStringLiteral("Wrote print.pdf");
        m_View.OnUpdate(m_Doc, m_Host, hint);
        EXPECT_EQ(!m_Host.m_Panes[0].isEmpty() || OutputRangeOf(&m_View), hint == DocChange::kImage);
    }
}

TEST_F(ViewTest, FitInWindowShowsTheWholeFrameAndRepaints)
{
    LoadPictureMap(m_Doc, 400, 300);
    m_View.SetWindow({0.3, 0.0, 0.5, 1.0});
    m_View.OnFitInWindow(m_Doc, m_Host);
    EXPECT_EQ(m_View.Window().m_dLeft, 0.0);
    EXPECT_EQ(m_View.Window().m_dRight, 1.0);
    EXPECT_EQ(m_Host.m_nInvalidations, 1);
}

TEST_F(ViewTest, InputOptionsPresetsAndStoresTheNotation)
{
    LoadPictureMap(m_Doc, 10, 10);
    m_Doc.SetInputOption(InputNotation::DegreesMinutesSeconds);
    m_Ui.AnswerChoice(0);
    OnInputOptions(m_Doc);
    ASSERT_EQ(m_Ui.m_Dialogs.size(), 1u);
    EXPECT_EQ(m_Ui.m_Dialogs[0].m_Kind, ScriptedUiServices::DialogKind::InputOptions);
    EXPECT_EQ(m_Ui.m_Dialogs[0].m_Choice.m_nSelection, 1);
    EXPECT_EQ(m_Doc.InputOption(), InputNotation::DecimalDegrees);
    m_Ui.CancelDialog();
    m_Doc.SetInputOption(InputNotation::DegreesMinutesSeconds);
    OnInputOptions(m_Doc);
    EXPECT_EQ(m_Doc.InputOption(), InputNotation::DegreesMinutesSeconds);
}
