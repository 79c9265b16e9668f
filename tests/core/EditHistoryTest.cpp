// The edit history: every completed point edit is one step that undo and redo put back exactly,
// points and geo-coding alike, and the document is modified exactly while it differs from what
// was saved.

#include "commands/FileCommands.h"
#include "commands/PointEditCommands.h"
#include "commands/Recovery.h"
#include "document/CQuilletDoc.h"
#include "ScriptedUiServices.h"

#include "FitTestPoints.h"
#include "TestDocs.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <bit>
#include <functional>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

/// Points and geo-coding bit for bit, so that a NaN or -0.0 slot compares as it is.
bool SameState(const PointsAndModel& a, const PointsAndModel& b)
{
    return a.m_Points == b.m_Points && a.m_bGeoCoded == b.m_bGeoCoded &&
           std::bit_cast<std::array<std::uint64_t, 16>>(a.m_dGeoCoef) ==
               std::bit_cast<std::array<std::uint64_t, 16>>(b.m_dGeoCoef);
}

} // namespace

TEST(EditHistory, EveryEditKindUndoesAndRedoesExactly)
{
    // Nine points whose fit is accepted. Moving the centre alone by 60 px leaves it 60 x 8/9 =
    // 53 arc-seconds off the refitted model, beyond 1.25 thresholds of 36: rejected.
    const PerturbedGrid grid;
    const std::vector<CDataGeo> accepted = grid.Points(0.0, 0.0);
    const CDataGeo centreMoved = grid.Points(60.0, 0.0)[4];
    const struct {
        const char* name;
        std::function<void(PointEditCommands&, ScriptedUiServices&)> edit;
        const char* step;
        bool geoCodedAfter;
    } cases[] = {
        {"add", [](PointEditCommands& edits, ScriptedUiServices& ui) {
             ui.AnswerCoordinates(QStringLiteral("40.25"), QStringLiteral("10.5"));
             edits.AddPoint({0.3, 0.4});
         }, "Add Point 10", false},
        {"move making the fit rejected", [&](PointEditCommands& edits, ScriptedUiServices&) {
             edits.MovePoint(4, {centreMoved.m_dImageX, centreMoved.m_dImageY});
         }, "Move Point 5", false},
        {"delete", [](PointEditCommands& edits, ScriptedUiServices& ui) {
             ui.AnswerMessage(IDYES);
             edits.DeletePoint(2);
         }, "Delete Point 3", true},
        {"re-edit", [](PointEditCommands& edits, ScriptedUiServices& ui) {
             ui.AnswerCoordinates(QStringLiteral("41.5"), QStringLiteral("9"));
             edits.EditPoint(8);
         }, "Edit Point 9", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedUiServices ui;
        ScopedUiServices installed(ui);
        CQuilletDoc doc;
        LoadPictureMap(doc, grid.Width(), grid.Height());
        PointEditCommands edits(doc);
        // The starting state: an accepted fit, saved.
        GeoCoefficients marked{};
        marked[12] = -0.0;
        SetPointsAndModel(doc, accepted, false, marked);
        doc.ComputeProjection();
        ASSERT_TRUE(doc.IsGeoCoded());
        doc.MarkSaved();
        const PointsAndModel before = doc.CapturePoints();

        c.edit(edits, ui);
        const PointsAndModel after = doc.CapturePoints();
        ASSERT_EQ(doc.UndoStack().count(), 1);
        EXPECT_EQ(doc.UndoStack().undoText(), QString::fromLatin1(c.step));
        EXPECT_EQ(doc.IsGeoCoded(), c.geoCodedAfter);
        EXPECT_TRUE(doc.IsModified());
        EXPECT_FALSE(SameState(before, after));

        // Undo and redo bring the states back exactly, without a fit or a message.
        const std::size_t shown = ui.m_Messages.size();
        doc.UndoStack().undo();
        EXPECT_TRUE(SameState(doc.CapturePoints(), before));
        EXPECT_FALSE(doc.IsModified()); // back where it was saved
        doc.UndoStack().redo();
        EXPECT_TRUE(SameState(doc.CapturePoints(), after));
        EXPECT_TRUE(doc.IsModified());
        EXPECT_EQ(ui.m_Messages.size(), shown);
    }
}

TEST(EditHistory, NothingDoneMakesNoStepAndAMapStartsAfresh)
{
    ScriptedUiServices ui;
    ScopedUiServices installed(ui);
    CQuilletDoc doc;
    LoadPictureMap(doc, 100, 100);
    PointEditCommands edits(doc);
    SetPointsAndModel(doc, {{3600, 3600, 0.5, 0.5}}, false, {});
    ui.CancelDialog();
    EXPECT_FALSE(edits.AddPoint({0.1, 0.1}));
    ui.CancelDialog();
    edits.EditPoint(0);
    ui.AnswerMessage(IDNO);
    EXPECT_FALSE(edits.DeletePoint(0));
    // Confirmed as shown, in either form, or with the same number retyped: no change, no step,
    // even for a value no text reproduces.
    SetPointsAndModel(doc, {{40.1234567891234 * 3600 + 1e-9, -7.3 * 3600, 0.5, 0.5}}, false, {});
    const std::vector<CDataGeo> kept = doc.ControlPoints();
    const std::size_t messages = ui.m_Messages.size();
    const ScriptedUiServices::DialogAnswer asShown{
        [](CoordinateEntry&) { return IDOK; }, [](DegMinSecEntry&) { return IDOK; }, {}};
    const ScriptedUiServices::DialogAnswer retyped{
        [](CoordinateEntry& entry) { return entry.m_strLongitude = QStringLiteral("-7.30"), IDOK; }, {}, {}};
    for (const auto& [option, answer] : {std::pair{1, asShown}, std::pair{0, asShown}, std::pair{0, retyped}}) {
        doc.SetInputOption(static_cast<InputNotation>(option));
        ui.m_DialogAnswers.push_back(answer);
        edits.EditPoint(0);
    }
    EXPECT_EQ(doc.ControlPoints(), kept);
    EXPECT_EQ(ui.m_Messages.size(), messages);
    EXPECT_EQ(doc.UndoStack().count(), 0);
    EXPECT_FALSE(doc.IsModified());

    edits.MovePoint(0, {0.2, 0.2});
    EXPECT_EQ(doc.UndoStack().count(), 1);
    LoadPictureMap(doc, 100, 100); // another map: its own history
    EXPECT_EQ(doc.UndoStack().count(), 0);
}

TEST(EditHistory, EveryUnsavedStateIsKeptForRecoveryHoweverItWasReached)
{
    QTemporaryDir dir;
    const QString folder = dir.path(), workspace = dir.filePath(QStringLiteral("w.pws"));
    const auto mode = [](const QString& path) {
        struct stat info {};
        return stat(qPrintable(path), &info) ? 0u : info.st_mode & 0777;
    };
    // After a point is moved, or not: what is done then, and the recovery file's mode (0: none).
    const struct { bool move; std::function<void(CQuilletDoc&)> then; unsigned fileMode; } cases[] = {
        {true, {}, 0600}, // one edit after opening
        {true, [](CQuilletDoc& doc) { doc.MarkSaved(), doc.UndoStack().undo(); }, 0600},
        {true, [](CQuilletDoc& doc) { doc.UndoStack().undo(); }, 0}, // back to the saved state
        {false, [&](CQuilletDoc& doc) { // work recovered onto a workspace
             doc.SetWorkspaceName(workspace);
             WriteFileBytes(workspace, EncodeWorkspace(CaptureWorkspace(doc, nullptr)));
             WriteFileBytes(folder + QStringLiteral("/old.vrc"), EncodeRecovery(CaptureRecovery(doc, nullptr)));
             WriteFileBytes(folder + QStringLiteral("/old.vrc.geocoding"), "reference=/refs/a.tif\n");
             ASSERT_TRUE(OfferRecovery(doc, nullptr, folder));
             EXPECT_EQ(doc.References(), QStringList{QStringLiteral("/refs/a.tif")});
         }, 0600},
        {false, [](CQuilletDoc& doc) { doc.SetReferences({QStringLiteral("/refs/b.gpkg")}); }, 0600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        ASSERT_EQ(::chmod(qPrintable(folder), 0755), 0); // readable by all, as an older release made it
        ScriptedUiServices ui;
        ScopedUiServices installed(ui);
        CQuilletDoc doc;
        LoadPictureMap(doc, 100, 100);
        SetPointsAndModel(doc, {{3600, 3600, 0.5, 0.5}}, false, {});
        PointEditCommands edits(doc);
        RecoveryKeeper keeper(doc, nullptr, folder);
        if (c.move)
            edits.MovePoint(0, {0.25, 0.25});
        if (c.then)
            c.then(doc);
        EXPECT_TRUE(keeper.IsWritePending());
        keeper.WriteNow(); // as the timer does within two seconds
        EXPECT_EQ(mode(keeper.FilePath()), c.fileMode);
        // The reference maps are kept beside it, as beside a workspace.
        EXPECT_EQ(mode(keeper.FilePath() + QStringLiteral(".geocoding")), doc.References().isEmpty() ? 0 : c.fileMode);
        EXPECT_EQ(mode(folder), 0700u);
    }
}

TEST(PointEdit, AMapFittedInAProjectedSystemTakesEastingAndNorthing)
{
    // Worked by hand: UTM zone 32 N has its central meridian at 9 E and a false easting of 500 km;
    // World Mercator's easting is 6378137 m times the longitude in radians. Systems of latitude and
    // longitude offer nothing. A northing that is no number is refused and nothing is added.
    const struct {
        const char* crs;
        const char* northing;
        const char* easting;
        const char* offered;
        double latitude, longitude; ///< NaN: refused
    } cases[] = {
        {"geographic", "", "", "", 0, 0},
        {"EPSG:4269", "", "", "", 0, 0},
        {"EPSG:32632", "0", "500000", "EPSG:32632", 0.0, 9.0},
        {"EPSG:3395", "0", "1113194.9079327357", "EPSG:3395", 0.0, 10.0},
        {"EPSG:32632", "north", "500000", "EPSG:32632", std::nan(""), std::nan("")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.crs);
        ScriptedUiServices ui;
        ScopedUiServices installed(ui);
        CQuilletDoc doc;
        LoadPictureMap(doc, 100, 100);
        doc.EditChoice(QStringLiteral("Transformation"), {TransformKind::Helmert, *FitCrs::Parse(QString::fromLatin1(c.crs))});
        ScriptedUiServices::DialogAnswer answer;
        answer.m_OnDataInput = [&c](CoordinateEntry& entry) {
            entry = {QString::fromLatin1(c.northing), QString::fromLatin1(c.easting), 0, entry.m_strProjectedCrs, true};
            return IDOK;
        };
        ui.m_DialogAnswers.push_back(answer);
        const bool added = PointEditCommands(doc).AddPoint({0.5, 0.5});
        ASSERT_FALSE(ui.m_Dialogs.empty());
        EXPECT_EQ(ui.m_Dialogs[0].m_Coordinates.m_strProjectedCrs, QString::fromLatin1(c.offered));
        if (!*c.offered)
            continue;
        EXPECT_EQ(added, !std::isnan(c.latitude));
        if (!added) {
            ASSERT_EQ(ui.m_Messages.size(), 1u);
            EXPECT_EQ(ui.m_Messages[0].m_strText, QStringLiteral("\"north\" is not a number. Please type a number for the northing."));
            EXPECT_EQ(ui.m_Dialogs.size(), 2u);
            EXPECT_TRUE(doc.ControlPoints().empty());
            continue;
        }
        ASSERT_EQ(doc.ControlPoints().size(), 1u);
        EXPECT_NEAR(doc.ControlPoints()[0].LatitudeDegrees(), c.latitude, 1e-9);
        EXPECT_NEAR(doc.ControlPoints()[0].LongitudeDegrees(), c.longitude, 1e-9);
    }
}
