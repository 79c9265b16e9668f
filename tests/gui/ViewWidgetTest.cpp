#include "app/CDataInputDialog.h"
#include "app/CMainFrame.h"
#include "app/QtUiServices.h"
#include "app/ReferencePane.h"
#include "commands/FileCommands.h"
#include "document/CQuilletDoc.h"
#include "ScriptedUiServices.h"
#include "view/core/ViewGeometry.h"
#include "view/widgets/CQuilletView.h"

#include "ProjReference.h"
#include "TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gdal.h>
#include <ogr_srs_api.h>

#include <gtest/gtest.h>

namespace {

class ViewWidgetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Frame.Create(0);
        m_Frame.resize(700, 560);
        m_Frame.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_Frame));
        m_pView = m_Frame.GetActiveView();
        ASSERT_TRUE(OpenDocumentFile(m_Doc, &m_pView->State(), TestDataPath(QStringLiteral("pictures/bmp/hopper.bmp"))));
        m_pView->viewport()->repaint();
    }

    /// The client position of a picture pixel (column from the left, row from the top).
    QPoint ClientOfPixel(double column, double row) const
    {
        const QSize client = m_pView->ClientSize();
        const QPointF at = FrameToClient(ComputeVisibleFrame(m_Doc, m_pView->State()), client.width(), client.height(),
                                         column / m_Doc.ImageWidth(), 1 - row / m_Doc.ImageHeight());
        return at.toPoint();
    }

    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    CQuilletDoc m_Doc;
    CMainFrame m_Frame{m_Doc};
    CQuilletView* m_pView = nullptr;
};

} // namespace

TEST_F(ViewWidgetTest, PaintingCapturesTheClientArea)
{
    ASSERT_NE(m_pView->State().ViewBitmap(), nullptr);
    EXPECT_EQ(m_pView->State().ViewBitmap()->size(), m_pView->ClientSize());
    EXPECT_FALSE(m_pView->verticalScrollBar()->isVisible());
}

TEST_F(ViewWidgetTest, ClickingSixPointsGeoCodesTheMap)
{
    m_pView->State().OnSetPoints(m_Doc);
    const QPointF pixels[] = {{10, 10}, {118, 12}, {64, 64}, {12, 115}, {120, 120}, {40, 90}};
    for (const QPointF p : pixels) {
        // Latitude 50 at the top row down to 49 at the bottom; longitude 8 to 9 left to right.
        m_Ui.AnswerCoordinates(QString::number(50 - p.y() / 128, 'f', 6), QString::number(8 + p.x() / 128, 'f', 6));
        QTest::mouseClick(m_pView->viewport(), Qt::LeftButton, {}, ClientOfPixel(p.x(), p.y()));
    }
    ASSERT_EQ(m_Doc.ControlPoints().size(), 6u);
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Projection Accuracy"));
    EXPECT_TRUE(m_Doc.IsGeoCoded());

    // The read-out now follows the pointer.
    const QPointF at = ClientOfPixel(64, 64);
    QMouseEvent move(QEvent::MouseMove, at, m_pView->viewport()->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(m_pView->viewport(), &move);
    EXPECT_EQ(m_Frame.Pane(2)->text().left(3), QStringLiteral("(8."));
    EXPECT_TRUE(m_Frame.Pane(3)->text().contains(QStringLiteral(" N )")));
    EXPECT_TRUE(m_Frame.Pane(3)->text().contains(QStringLiteral("E, ")));
}

TEST_F(ViewWidgetTest, ZoomingInShowsTheScrollBars)
{
    m_pView->State().OnZoomIn(m_Doc);
    const QPoint centre(m_pView->ClientSize().width() / 2, m_pView->ClientSize().height() / 2);
    QTest::mouseClick(m_pView->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_NEAR(m_pView->State().Window().Width(), 0.8, 1e-9);
    EXPECT_TRUE(m_pView->verticalScrollBar()->isVisible());
    EXPECT_EQ(m_pView->horizontalScrollBar()->maximum(), 1000);
    // A line down moves the window down by the bar's step.
    const double top = m_pView->State().Window().m_dTop;
    m_pView->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_LT(m_pView->State().Window().m_dTop, top);
    EXPECT_EQ(m_pView->verticalScrollBar()->value(), m_pView->State().VScrollPos());
}

TEST_F(ViewWidgetTest, APickOnTheReferenceMapFillsTheDialogAndUndoRemovesThePoint)
{
    // A reference raster in UTM zone 33 north, 100 m pixels.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("reference.tif"));
    GDALAllRegister();
    GDALDatasetH raster = GDALCreate(GDALGetDriverByName("GTiff"), path.toUtf8().constData(), 200, 150, 1, GDT_Byte, nullptr);
    double geoTransform[6] = {400000, 100, 0, 5600000, 0, -100};
    GDALSetGeoTransform(raster, geoTransform);
    GDALSetProjection(raster, "EPSG:32633");
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, 32633);
    GDALSetSpatialRef(raster, srs);
    OSRDestroySpatialReference(srs);
    GDALClose(raster);

    ReferencePane& pane = *m_Frame.References();
    ASSERT_EQ(pane.AddReference(path), std::nullopt);
    EXPECT_TRUE(pane.isVisible());
    EXPECT_EQ(m_Doc.References(), QStringList{path});
    QtUiServices ui(&m_Frame);
    ui.m_CanPickOnReference = [&] { return pane.CanPick(); };
    ui.m_PickOnReference = [&] { return pane.PickPosition(); };
    ScopedUiServices installed{ui};

    const QPointF click(60, 50);
    LatLon expected;
    // The dialog opens with "Pick on Reference"; the pick waits for a click on the pane; the
    // dialog comes back with the clicked position, and OK keeps it.
    int step = 0;
    QString latitude, longitude;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<CDataInputDialog*>(QApplication::activeModalWidget());
        if (step == 0 && dialog) {
            QPushButton* pick = nullptr;
            for (QPushButton* button : dialog->findChildren<QPushButton*>())
                if (button->text() == QStringLiteral("Pick on Reference") && button->isVisible())
                    pick = button;
            ASSERT_NE(pick, nullptr);
            step = 1;
            pick->click();
        } else if (step == 1 && !dialog && pane.Canvas()->cursor().shape() == Qt::CrossCursor) {
            step = 2;
            const QPointF ground = pane.GroundAt(click);
            expected = ReferenceInverse("EPSG:32633", "EPSG:4326", ground.x(), ground.y());
            QTest::mouseClick(pane.Canvas(), Qt::LeftButton, {}, click.toPoint());
        } else if (step == 2 && dialog) {
            step = 3;
            latitude = dialog->LatitudeEdit()->text();
            longitude = dialog->LongitudeEdit()->text();
            QTest::keyClick(dialog, Qt::Key_Return);
        }
    });
    driver.start(10);
    m_pView->State().OnSetPoints(m_Doc);
    QTest::mouseClick(m_pView->viewport(), Qt::LeftButton, {}, ClientOfPixel(40, 40));
    driver.stop();
    ASSERT_EQ(step, 3);
    EXPECT_NEAR(latitude.toDouble(), expected.m_dLatitude, 1e-7);
    EXPECT_NEAR(longitude.toDouble(), expected.m_dLongitude, 1e-7);
    ASSERT_EQ(m_Doc.ControlPoints().size(), 1u);
    EXPECT_NEAR(m_Doc.ControlPoints()[0].LatitudeDegrees(), expected.m_dLatitude, 1e-7);
    m_Doc.UndoStack().undo();
    EXPECT_TRUE(m_Doc.ControlPoints().empty());
}
