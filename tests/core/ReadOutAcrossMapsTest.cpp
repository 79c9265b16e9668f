// The read-out as the user meets it across maps: a GeoTIFF's frame is read through its own
// inverse projection, and nothing of it outlives the map when another one is loaded.

#include "commands/FileCommands.h"
#include "commands/PointEditCommands.h"
#include "document/CQuilletDoc.h"
#include "geo/Geodesy.h"
#include "view/core/ReadOut.h"
#include "view/core/ViewGeometry.h"
#include "view/core/ViewState.h"
#include "ScriptedUiServices.h"

#include "FakeViewHost.h"
#include "ProjReference.h"
#include "TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr int kTifEntry = 9;
constexpr int kJpgEntry = 7;

class ReadOutAcrossMaps : public ::testing::Test {
protected:
    ReadOutAcrossMaps()
    {
        m_Doc.AddView(&m_Recorder);
        InitialNewDocument(m_Doc);
    }

    void New(const QString& path, int entry)
    {
        m_Ui.AnswerFile(path, entry);
        ASSERT_TRUE(OnFileNew(m_Doc, &m_View));
    }

    /// The geographic position the status bar shows for client point p (decimal degrees pane).
    QString ReadOut(QPoint p)
    {
        m_View.OnMouseMove(m_Doc, m_Host, p);
        return m_Host.m_Panes[2];
    }

    class Observer : public CView {
    public:
        explicit Observer(ReadOutAcrossMaps& test) : m_Test(test) {}
        void OnUpdate(CView*, long hint) override { m_Test.m_View.OnUpdate(m_Test.m_Doc, m_Test.m_Host, hint); }
        ReadOutAcrossMaps& m_Test;
    };

    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    FakeViewHost m_Host{QSize(600, 500)};
    ViewState m_View;
    CQuilletDoc m_Doc;
    Observer m_Recorder{*this};
    PointEditCommands m_Edits{m_Doc};
};

} // namespace

TEST_F(ReadOutAcrossMaps, APictureMapAfterAGeoTiffReadsOutAndMeasuresInDegrees)
{
    New(TestDataPath(QStringLiteral("geotiff/RGB.byte.tif")), kTifEntry);
    ASSERT_TRUE(m_Doc.HasGeoTiffFrame());
    ReadOut(QPoint(300, 250));
    ASSERT_FALSE(m_Host.m_Panes[2].isEmpty());

    // A JPEG of 480 x 360 pixels, tied to latitude 50 (top) to 49 (bottom) and longitude 8 to 9
    // by six exact points.
    New(TestDataPath(QStringLiteral("pictures/jpg/flower.jpg")), kJpgEntry);
    EXPECT_FALSE(m_Doc.HasGeoTiffFrame());
    for (int pane = 1; pane <= 4; ++pane)
        EXPECT_TRUE(m_Host.m_Panes[pane].isEmpty()) << "pane " << pane; // the GeoTIFF's read-out is gone
    const QPointF pixels[] = {{10, 10}, {470, 12}, {240, 180}, {12, 350}, {468, 349}, {100, 300}};
    for (const QPointF p : pixels) {
        m_Ui.AnswerCoordinates(QString::number(50 - p.y() / 360, 'f', 6), QString::number(8 + p.x() / 480, 'f', 6));
        ASSERT_TRUE(m_Edits.AddPoint(QPointF(p.x() / 480, 1 - p.y() / 360)));
    }
    ASSERT_TRUE(m_Doc.IsGeoCoded());

    // The picture's centre reads as its degrees, not as a fraction of the frame.
    UpdateFrame(m_Doc, m_View, 600, 500);
    const QPointF centre = FrameToClient(ComputeVisibleFrame(m_Doc, m_View), 600, 500, 0.5, 0.5);
    const QStringList shown = ReadOut(centre.toPoint()).mid(1).chopped(1).split(QStringLiteral(", "));
    ASSERT_EQ(shown.size(), 2);
    EXPECT_NEAR(shown[0].toDouble(), 8.5, 0.01);
    EXPECT_NEAR(shown[1].toDouble(), 49.5, 0.01);

    // A measurement across the picture is the great-circle distance of its ends.
    const QPointF west = FrameToClient(ComputeVisibleFrame(m_Doc, m_View), 600, 500, 0.0, 0.5);
    const QPointF east = FrameToClient(ComputeVisibleFrame(m_Doc, m_View), 600, 500, 1.0, 0.5);
    m_Doc.SetUnitFactor(1.0);
    m_View.OnMeasure(m_Doc);
    m_View.OnLButtonDown(m_Doc, m_Host, m_Edits, west.toPoint());
    m_View.OnMouseMove(m_Doc, m_Host, east.toPoint());
    const std::optional<GeoPosition> a = GeographicPosition(m_Doc, m_View, 600, 500, west.toPoint().x(), west.toPoint().y());
    const std::optional<GeoPosition> b = GeographicPosition(m_Doc, m_View, 600, 500, east.toPoint().x(), east.toPoint().y());
    ASSERT_TRUE(a && b);
    EXPECT_NEAR(a->m_dLongitude, 8.0, 0.01);
    EXPECT_NEAR(b->m_dLongitude, 9.0, 0.01);
    EXPECT_EQ(m_Host.m_Panes[4], DistanceText(GreatCircleDistance(a->m_dLatitude, a->m_dLongitude, b->m_dLatitude,
                                                                   b->m_dLongitude), 1.0));
    // About 72 km along the parallel at 49.5 degrees.
    EXPECT_NEAR(GreatCircleDistance(a->m_dLatitude, a->m_dLongitude, b->m_dLatitude, b->m_dLongitude), 72.4e3, 0.5e3);
}

TEST_F(ReadOutAcrossMaps, AGeoTiffReadsOutThroughItsInverseProjection)
{
    New(TestDataPath(QStringLiteral("geotiff/RGB.byte.tif")), kTifEntry);
    UpdateFrame(m_Doc, m_View, 600, 500);
    const VisibleFrame frame = ComputeVisibleFrame(m_Doc, m_View);
    const CDataGeo& origin = m_Doc.GeoOrigin();
    const CDataGeo& extent = m_Doc.GeoExtent();
    ASSERT_TRUE(m_Doc.Georeference());
    const GeoTiffInfo& info = *m_Doc.Georeference();
    // Client points near each corner and the middle: the position is PROJ's for the picture
    // pixel under the point, not a straight line between two corners.
    for (const QPoint p : {QPoint(0, 0), QPoint(599, 499), QPoint(599, 0), QPoint(0, 499), QPoint(300, 250)}) {
        const QPointF at = ClientToFrame(frame, 600, 500, p.x(), p.y());
        const double column = (at.x() - origin.m_dLongitude) / extent.m_dLongitude * m_Doc.ImageWidth();
        const double row = (origin.m_dLatitude + extent.m_dLatitude - at.y()) / extent.m_dLatitude * m_Doc.ImageHeight();
        const LatLon expected = ReferenceInverse("EPSG:32618", "EPSG:4326", info.m_dTieX + column * info.m_dScaleX,
                                                 info.m_dTieY - row * info.m_dScaleY);
        const std::optional<GeoPosition> shown = GeographicPosition(m_Doc, m_View, 600, 500, p.x(), p.y());
        ASSERT_TRUE(shown);
        EXPECT_NEAR(shown->m_dLatitude, expected.m_dLatitude, 1e-6) << p.x() << "," << p.y();
        EXPECT_NEAR(shown->m_dLongitude, expected.m_dLongitude, 1e-6) << p.x() << "," << p.y();
    }
}

TEST(LocateCli, CornersOfTheSampleGeoTiffAreItsGeoreferencesCorners)
{
    const QString path = TestDataPath(QStringLiteral("geotiff/RGB.byte.tif"));
    // Top-left and bottom-right from the shared reference (PROJ's invproj); the other two from
    // PROJ's EPSG definition of WGS 84 / UTM zone 18N. Tie point 101985, 2826915; 300 m pixels.
    const LatLon northEast = ReferenceInverse("EPSG:32618", "EPSG:4326", 101985.0 + 791 * 300.0379266750948, 2826915.0);
    const LatLon southWest = ReferenceInverse("EPSG:32618", "EPSG:4326", 101985.0, 2826915.0 - 718 * 300.041782729805);
    const struct {
        const char* pixel;
        double latitude, longitude;
    } cases[] = {
        {"0,0", 25.5060873857, -78.9586499654},
        {"791,718", 23.6059469554, -76.5749237001},
        {"791,0", northEast.m_dLatitude, northEast.m_dLongitude},
        {"0,718", southWest.m_dLatitude, southWest.m_dLongitude},
    };
    for (const auto& c : cases) {
        const CliResult result = RunCli({QStringLiteral("locate"), path, QStringLiteral("--pixel"), QString::fromLatin1(c.pixel)});
        ASSERT_EQ(result.m_nExitCode, 0) << result.m_StdErr.toStdString();
        const QJsonObject json = QJsonDocument::fromJson(result.m_StdOut).object();
        EXPECT_NEAR(json.value(QStringLiteral("latitude")).toDouble(), c.latitude, 1e-6) << c.pixel;
        EXPECT_NEAR(json.value(QStringLiteral("longitude")).toDouble(), c.longitude, 1e-6) << c.pixel;
    }
    EXPECT_NEAR(northEast.m_dLatitude, 25.551, 0.001); // not the 25.506 of a straight line

    // A map that is not geo-coded, and a pixel that is no pixel, are refused.
    for (const QStringList& args : {QStringList{TestDataPath(QStringLiteral("tiff/hopper.tif")), "--pixel", "1,1"},
                                    QStringList{path, "--pixel", "1"}, QStringList{path}}) {
        const CliResult refused = RunCli(QStringList{QStringLiteral("locate")} + args);
        EXPECT_EQ(refused.m_nExitCode, args.size() == 3 && args[2] == QStringLiteral("1,1") ? 1 : 2) << args.join(' ').toStdString();
        EXPECT_TRUE(refused.m_StdOut.isEmpty());
        EXPECT_FALSE(refused.m_StdErr.isEmpty());
    }
}
