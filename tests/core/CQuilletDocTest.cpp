// The document's own behaviour: one change notice per operation, saying what changed, and the
// state that belongs to a map going with it.

#include "commands/OptionCommands.h"
#include "document/CQuilletDoc.h"
#include "formats/TiffImport.h"
#include "ScriptedUiServices.h"

#include "RecordingView.h"
#include "TestDocs.h"
#include "TestSupport.h"

#include <functional>

#include <gtest/gtest.h>

namespace {

void InstallImported(CQuilletDoc& doc, const QString& path)
{
    TiffImport import = ImportTiffImages(path);
    doc.InstallTiffMap(path, MapKind::Tif, import.TakeImages(), import.MapGeoreference());
}

} // namespace

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

TEST(Document, EveryChangeSendsOneNoticeSayingWhatChanged)
{
    const std::vector<CDataGeo> six(6, CDataGeo{3600, 7200, 0.5, 0.5});
    const struct {
        const char* name;
        std::function<void(CQuilletDoc&)> change;
        long hint;
    } cases[] = {
        {"picture map", [](CQuilletDoc& doc) { doc.InstallPictureMap(QStringLiteral("/m.bmp"), MapKind::Bmp, CPicture(), {}); },
         DocChange::kAll},
        {"saved", [](CQuilletDoc& doc) { doc.MarkSaved(); }, DocChange::kPaths},
        {"points", [&](CQuilletDoc& doc) { doc.SetControlPoints(six); }, DocChange::kPoints | DocChange::kGeoCoding},
        {"restore", [&](CQuilletDoc& doc) { doc.RestorePoints({six, 1, {}, std::nullopt}); },
         DocChange::kPoints | DocChange::kGeoCoding},
        {"show points", [](CQuilletDoc& doc) { doc.SetShowPoints(false); }, DocChange::kOptions},
        {"input option", [](CQuilletDoc& doc) { doc.SetInputOption(InputNotation::DegreesMinutesSeconds); }, DocChange::kOptions},
        {"unit", [](CQuilletDoc& doc) { doc.SetUnitFactor(1.0); }, DocChange::kOptions},
        {"workspace name", [](CQuilletDoc& doc) { doc.SetWorkspaceName(QStringLiteral("/w/a.pws")); },
         DocChange::kPaths},
        {"model", [](CQuilletDoc& doc) { doc.AdoptModel(GeoModel::FromAffine(1, 2, 3, 4, 5, 6)); },
         DocChange::kGeoCoding},
    };
    for (const auto& c : cases) {
        CQuilletDoc doc;
        LoadPictureMap(doc, 40, 30);
        RecordingView view;
        doc.AddView(&view);
        c.change(doc);
        EXPECT_EQ(view.m_Hints, std::vector<long>{c.hint}) << c.name;
    }
}

TEST(Document, ALoadedMapForgetsThePreviousMapsGeoTiffFrame)
{
    const QString geotiff = TestDataPath(QStringLiteral("geotiff/RGB.byte.tif"));
    CQuilletDoc doc;
    InstallImported(doc, geotiff);
    ASSERT_TRUE(doc.HasGeoTiffFrame());
    ASSERT_TRUE(doc.IsGeoCoded());
    ASSERT_FALSE(doc.Projection().IsNull());

    LoadPictureMap(doc, 40, 30);
    EXPECT_FALSE(doc.HasGeoTiffFrame());
    EXPECT_FALSE(doc.IsGeoCoded());
    EXPECT_TRUE(doc.Projection().IsNull());
    EXPECT_EQ(doc.GeoOrigin(), (CDataGeo{0, 0, 0, 0}));
    EXPECT_EQ(doc.GeoExtent(), (CDataGeo{1, 1, 0, 0}));

    // A TIFF image without a georeference is a plain picture too.
    InstallImported(doc, geotiff);
    const QString plain = TestDataPath(QStringLiteral("tiff/hopper.tif"));
    InstallImported(doc, plain);
    EXPECT_FALSE(doc.HasGeoTiffFrame());
    EXPECT_FALSE(doc.IsGeoCoded());
    EXPECT_EQ(doc.GeoExtent(), (CDataGeo{1, 1, 0, 0}));
    EXPECT_EQ(doc.ImageWidth(), 128);
}

TEST(Document, RestoringPointsPutsBackTheWholeGeoCoding)
{
    CQuilletDoc doc;
    LoadPictureMap(doc, 100, 100);
    GeoCoefficients coefficients{};
    coefficients[1] = 3.5;
    coefficients[9] = -2.0; // an unused slot travels too
    const PointsAndModel saved{{CDataGeo{1, 2, 0.1, 0.2}}, 1, coefficients, std::nullopt};
    doc.RestorePoints(saved);
    doc.SetControlPoints({}); // a fit with too few points withdraws the geo-coding
    EXPECT_FALSE(doc.IsGeoCoded());
    ASSERT_TRUE(doc.LastFit());
    doc.RestorePoints(saved);
    EXPECT_TRUE(doc.IsGeoCoded());
    EXPECT_EQ(doc.GeoCoef(), coefficients);
    EXPECT_EQ(doc.ControlPoints(), saved.m_Points);
    EXPECT_FALSE(doc.LastFit());
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
        doc.SetUnitFactor(c.before);
        if (c.choice < 0)
            ui.CancelDialog();
        else
            ui.AnswerChoice(c.choice);
        OnSelectUnit(doc);
        ASSERT_EQ(ui.m_Dialogs.size(), 1u);
        EXPECT_EQ(ui.m_Dialogs[0].m_Kind, ScriptedUiServices::DialogKind::SelectUnit);
        EXPECT_EQ(ui.m_Dialogs[0].m_Choice.m_nSelection, c.preset) << c.before;
        EXPECT_EQ(doc.UnitFactor(), c.after) << c.before << " choice " << c.choice;
    }
}
