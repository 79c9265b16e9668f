#include "document/CQuilletDoc.h"
#include "platform/CCmdUI.h"
#include "platform/ScriptedUiServices.h"

#include "RecordingView.h"

#include <gtest/gtest.h>

TEST(Document, StartsEmptyWithFeetAndPointsShown)
{
    const CQuilletDoc doc;
    EXPECT_EQ(doc.m_nMapType, 0);
    EXPECT_EQ(doc.m_nOutputFormat, 0);
    EXPECT_TRUE(doc.m_Images.empty());
    EXPECT_EQ(doc.m_nCurrentImage, 0);
    EXPECT_EQ(doc.m_bMapLoaded, 0);
    EXPECT_EQ(doc.m_bSetPoints, 0);
    EXPECT_EQ(doc.m_bShowPoints, 1);
    EXPECT_EQ(doc.m_bInitialized, 0);
    EXPECT_EQ(doc.m_bWorkspaceNamed, 0);
    EXPECT_EQ(doc.m_bGeoCoded, 0);
    EXPECT_EQ(doc.m_nImageWidth, 0);
    EXPECT_EQ(doc.m_nImageHeight, 0);
    EXPECT_EQ(doc.m_nInputOption, 0);
    EXPECT_EQ(doc.m_dUnitFactor, 0.3048);
    EXPECT_TRUE(doc.m_strWorkspacePath.isEmpty());
    EXPECT_TRUE(doc.m_strMapPath.isEmpty());
    EXPECT_EQ(doc.m_Picture.m_pPicture, nullptr);
    EXPECT_EQ(doc.m_pViewBitmap, nullptr);
    EXPECT_EQ(doc.m_GeoOrigin, CDataGeo{});
    EXPECT_EQ(doc.m_GeoExtent, CDataGeo{});
    EXPECT_EQ(doc.m_FrameOrigin, CDataGeo{});
    EXPECT_EQ(doc.m_FrameExtent, CDataGeo{});
    EXPECT_TRUE(doc.m_ControlPoints.empty());
    EXPECT_TRUE(doc.m_MapFileData.isEmpty());
    EXPECT_EQ(doc.m_nMapFileSize, 0);
    for (double c : doc.m_dGeoCoef)
        EXPECT_EQ(c, 0.0);
    EXPECT_TRUE(doc.GetTitle().isEmpty());
}

TEST(Document, MapKindsSplitIntoPictureAndTiffMaps)
{
    CQuilletDoc doc;
    for (int kind = -1; kind <= 12; ++kind) {
        doc.m_nMapType = kind;
        EXPECT_EQ(doc.IsPictureMap(), kind >= 1 && kind <= 8) << kind;
        EXPECT_EQ(doc.IsTiffMap(), kind == 9 || kind == 10) << kind;
    }
}

TEST(Document, PictureFrameIsTheUnitSquareWhateverWasThere)
{
    CQuilletDoc doc;
    doc.m_GeoOrigin = {25.1, -78.9, 3, 4};
    doc.m_GeoExtent = {2.0, 2.4, 5, 6};
    doc.m_FrameOrigin = {24.9, -79.0, 7, 8};
    doc.m_FrameExtent = {2.3, 2.4, 9, 10};
    doc.SetPictureFrame();
    EXPECT_EQ(doc.m_GeoOrigin, (CDataGeo{0, 0, 0, 0}));
    EXPECT_EQ(doc.m_GeoExtent, (CDataGeo{1, 1, 0, 0}));
    EXPECT_EQ(doc.m_FrameOrigin, (CDataGeo{0, 0, 0, 0}));
    EXPECT_EQ(doc.m_FrameExtent, (CDataGeo{1, 1, 0, 0}));
}

TEST(Document, UpdateAllViewsSkipsTheSender)
{
    CQuilletDoc doc;
    RecordingView a, b;
    doc.AddView(&a);
    doc.AddView(&b);
    doc.AddView(&a); // added once only
    doc.UpdateAllViews(&a, 5);
    EXPECT_EQ(a.Updates(), 0);
    ASSERT_EQ(b.Updates(), 1);
    EXPECT_EQ(b.m_Senders[0], &a);
    EXPECT_EQ(b.m_Hints[0], 5);
    doc.RemoveView(&b);
    doc.UpdateAllViews(nullptr);
    EXPECT_EQ(a.Updates(), 1);
    EXPECT_EQ(b.Updates(), 1);
}

TEST(Document, ShowPointsTogglesOnlyWithAMapButAlwaysRepaints)
{
    CQuilletDoc doc;
    RecordingView view;
    doc.AddView(&view);

    doc.OnShowPoints();
    EXPECT_EQ(doc.m_bShowPoints, 1);
    EXPECT_EQ(view.Updates(), 1);
    CCmdUI disabled;
    disabled.SetCheck(0);
    doc.OnUpdateShowPoints(disabled);
    EXPECT_FALSE(disabled.IsEnabled());
    EXPECT_EQ(disabled.Check(), std::optional<bool>(false)); // left as it was

    doc.m_bMapLoaded = 1;
    doc.OnShowPoints();
    EXPECT_EQ(doc.m_bShowPoints, 0);
    EXPECT_EQ(view.Updates(), 2);
    CCmdUI off;
    doc.OnUpdateShowPoints(off);
    EXPECT_TRUE(off.IsEnabled());
    EXPECT_EQ(off.Check(), std::optional<bool>(false));

    doc.OnShowPoints();
    EXPECT_EQ(doc.m_bShowPoints, 1);
    CCmdUI on;
    doc.OnUpdateShowPoints(on);
    EXPECT_EQ(on.Check(), std::optional<bool>(true));
    EXPECT_EQ(view.m_Hints, (std::vector<long>{0, 0, 0}));
}

TEST(Document, SelectUnitPresetsAndStoresTheFactor)
{
    const struct {
        double before;
        int preset;
        int choice; // -1: cancel
        double after;
    } cases[] = {
        {0.3048, 0, 1, 1.0},    {1.0, 1, 0, 0.3048}, {0.3048, 0, -1, 0.3048},
        {1.0, 1, -1, 1.0},      {0.3048, 0, 0, 0.3048}, {0.6, 1, 1, 1.0},
    };
    for (const auto& c : cases) {
        ScriptedUiServices ui;
        ScopedUiServices installed(ui);
        CQuilletDoc doc;
        RecordingView view;
        doc.AddView(&view);
        doc.m_dUnitFactor = c.before;
        if (c.choice < 0)
            ui.CancelDialog();
        else
            ui.AnswerChoice(c.choice);
        doc.OnSelectUnit();
        ASSERT_EQ(ui.m_Dialogs.size(), 1u);
        EXPECT_EQ(ui.m_Dialogs[0].m_Kind, ScriptedUiServices::DialogKind::SelectUnit);
        EXPECT_EQ(ui.m_Dialogs[0].m_Choice.m_nSelection, c.preset) << c.before;
        EXPECT_EQ(doc.m_dUnitFactor, c.after) << c.before << " choice " << c.choice;
        EXPECT_EQ(view.Updates(), 0); // nothing is repainted
    }
}
