// Long work cancelled by the user, at several points of its way, changes nothing: the document
// keeps its map, points and model, an existing target file keeps its bytes, and no temporary
// file is left beside it.

#include "commands/ExportCommands.h"
#include "commands/FileCommands.h"
#include "commands/OutputCommand.h"
#include "document/CQuilletDoc.h"
#include "formats/FileKinds.h"
#include "formats/WorkspaceFile.h"
#include "platform/FileIO.h"
#include "view/core/ViewState.h"
#include "ScriptedUiServices.h"
#include "TestDocs.h"
#include "TiffTestFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <functional>

#include <gtest/gtest.h>

namespace {

/// What a cancelled command must leave as it was.
struct DocState {
    QString m_strMap;
    int m_nWidth = 0;
    std::vector<CDataGeo> m_Points;
    bool m_bGeoCoded = false;
    GeoCoefficients m_dCoef{};
    bool m_bModified = false;
    int m_nSteps = 0;

    explicit DocState(const CQuilletDoc& doc)
        : m_strMap(doc.MapPath()), m_nWidth(doc.ImageWidth()), m_Points(doc.ControlPoints()),
          m_bGeoCoded(doc.IsGeoCoded()), m_dCoef(doc.GeoCoef()), m_bModified(doc.IsModified()),
          m_nSteps(doc.UndoStack().count())
    {
    }
    bool operator==(const DocState& other) const
    {
        return m_strMap == other.m_strMap && m_nWidth == other.m_nWidth && m_bGeoCoded == other.m_bGeoCoded &&
               m_dCoef == other.m_dCoef && m_bModified == other.m_bModified && m_nSteps == other.m_nSteps &&
               m_Points.size() == other.m_Points.size() &&
               std::equal(m_Points.begin(), m_Points.end(), other.m_Points.begin(), [](const CDataGeo& a, const CDataGeo& b) {
                   return a.m_dLatitude == b.m_dLatitude && a.m_dLongitude == b.m_dLongitude &&
                          a.m_dImageX == b.m_dImageX && a.m_dImageY == b.m_dImageY;
               });
    }
};

const std::vector<CDataGeo> kPoints = {{49.5, 8.5, 0.25, 0.75}, {49.0, 9.0, 0.5, 0.25}};

class LongWorkCancel : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A TIFF map large enough to be decoded strip after strip: 2400 x 1600 RGB, 16 rows a strip.
        TiffContent big;
        big.m_nWidth = 2400;
        big.m_nHeight = 1600;
        big.m_nRowsPerStrip = 16;
        big.m_Sample = [](int x, int y, int sample) { return static_cast<std::uint16_t>((x * 7 + y * 3 + sample * 50) & 0xFF); };
        ASSERT_TRUE(WriteTiff(Path("big.tif"), {big}));
    }

    QString Path(const char* name) const { return m_Dir.filePath(QString::fromLatin1(name)); }
    QStringList Files() const { return QDir(m_Dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    /// A picture map with two points and a model, saved: the state every cancelled read keeps.
    void LoadStartingMap(CQuilletDoc& doc) const
    {
        LoadPictureMap(doc, 300, 200, MapKind::Bmp, Path("start.bmp"));
        GeoCoefficients coef{};
        coef[0] = 12.5;
        coef[5] = -3.25;
        SetPointsAndModel(doc, kPoints, true, coef);
        doc.MarkSaved();
    }

    QTemporaryDir m_Dir;
};

} // namespace

TEST_F(LongWorkCancel, ReadsStoppedAnywhereLeaveTheMapOnScreen)
{
    // A workspace and a DPF of the big TIFF map, made the ordinary way.
    {
        ScriptedUiServices ui;
        ScopedUiServices installed(ui);
        CQuilletDoc source;
        ASSERT_TRUE(OpenMapFile(source, Path("big.tif"), MapKind::Tif));
        GeoCoefficients coef{};
        coef[1] = 1.0;
        coef[6] = 1.0;
        SetPointsAndModel(source, kPoints, true, coef);
        ASSERT_TRUE(WriteWholeFile(Path("big.pws"), EncodeWorkspace(CaptureWorkspace(source, nullptr))));
        ASSERT_TRUE(WriteProjectionOutput(source, std::nullopt, OutputFlavour::Dpf, Path("big.dpf")).m_bDone);
    }
    const struct {
        const char* name;
        std::function<bool(CQuilletDoc&, ViewState&)> open;
    } reads[] = {
        {"New of a TIFF", [&](CQuilletDoc& doc, ViewState&) { return OpenMapFile(doc, Path("big.tif"), MapKind::Tif); }},
        {"Open of a TIFF workspace", [&](CQuilletDoc& doc, ViewState& view) { return OpenWorkspaceFile(doc, &view, Path("big.pws")); }},
        {"Open of a DPF", [&](CQuilletDoc& doc, ViewState&) { return OpenProjectionFile(doc, Path("big.dpf"), ProjectionKind::Dpf); }},
    };
    for (const auto& read : reads) {
        for (const double cancelAt : {0.0, 0.3, 0.7, 0.99, 2.0}) {
            SCOPED_TRACE(std::string(read.name) + ", Cancel at " + std::to_string(cancelAt));
            ScriptedUiServices ui;
            ScopedUiServices installed(ui);
            ui.m_dCancelAt = cancelAt;
            CQuilletDoc doc;
            ViewState view;
            LoadStartingMap(doc);
            const DocState before(doc);

            const bool opened = read.open(doc, view);
            EXPECT_EQ(ui.m_LongWork.size(), 1u); // the work went through the progress service
            if (cancelAt > 1.0) {
                // Not cancelled, the same call does replace the map: the cancel is what kept it.
                EXPECT_TRUE(opened);
                EXPECT_EQ(doc.ImageWidth(), 2400);
                continue;
            }
            EXPECT_FALSE(opened);
            EXPECT_TRUE(DocState(doc) == before);
            EXPECT_TRUE(ui.m_Messages.empty()) << ui.m_Messages.front().m_strText.toStdString();
        }
    }
}

TEST_F(LongWorkCancel, WritesStoppedAnywhereLeaveTheOldFileAndNoTemporaryOne)
{
    const QByteArray old("the file that was there before");
    const struct {
        const char* name;
        const char* target;
        std::function<void(CQuilletDoc&, ScriptedUiServices&, const QString&)> write;
    } writes[] = {
        {"Output A Geo-Map as DPF", "map.dpf",
         [](CQuilletDoc& doc, ScriptedUiServices&, const QString& path) {
             doc.SetOutputFormat(OutputFlavour::Dpf);
             OutputProjectionFile(doc, nullptr, path);
         }},
        {"Export of a GeoTIFF", "map.tif",
         [](CQuilletDoc& doc, ScriptedUiServices& ui, const QString& path) {
             ui.AnswerFile(path, 1); // the GeoTIFF entry
             OnExportGeoreferenced(doc, nullptr);
             ui.m_Messages.erase(ui.m_Messages.begin()); // Yes to replacing the file
         }},
        {"Save of a workspace", "map.pws",
         [](CQuilletDoc& doc, ScriptedUiServices&, const QString& path) {
             doc.SetWorkspaceName(path);
             WriteWorkspace(doc, nullptr);
         }},
    };
    for (const auto& write : writes) {
        for (const double cancelAt : {0.0, 0.3, 0.7, 0.9, 0.99, 2.0}) {
            SCOPED_TRACE(std::string(write.name) + ", Cancel at " + std::to_string(cancelAt));
            const QString target = Path(write.target);
            ASSERT_TRUE(WriteWholeFile(target, old));
            const QStringList filesBefore = Files();
            ScriptedUiServices ui;
            ScopedUiServices installed(ui);
            ui.m_dCancelAt = cancelAt;
            CQuilletDoc doc;
            // A TIFF map with a GeoTIFF frame: the output would also give the document the
            // frame's coefficients, which a cancelled one must not.
            LoadDegreeTiffMap(doc, 2400, 1600, {49.0, 8.0, 0, 0}, {1.0, 1.5, 0, 0});
            const DocState before(doc);

            write.write(doc, ui, target);
            QByteArray after;
            ASSERT_TRUE(ReadWholeFile(target, after));
            EXPECT_EQ(ui.m_LongWork.size(), 1u);
            if (cancelAt > 1.0) {
                EXPECT_NE(after, old); // not cancelled, the same call does write the file
                continue;
            }
            EXPECT_EQ(after, old);
            EXPECT_EQ(Files(), filesBefore);
            EXPECT_TRUE(DocState(doc) == before);
            EXPECT_TRUE(ui.m_Messages.empty()) << ui.m_Messages.front().m_strText.toStdString();
            EXPECT_TRUE(ui.m_StatusTexts.empty());
        }
    }
}
