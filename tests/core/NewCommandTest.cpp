#include "commands/FileCommands.h"
#include "commands/Recovery.h"
#include "document/CQuilletDoc.h"
#include "formats/ProjectionFile.h"
#include "ScriptedUiServices.h"

#include "RecordingView.h"
#include "TestDocs.h"
#include "TestSupport.h"
#include "TiffTestFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr int kBmpEntry = 2;
constexpr int kJpgEntry = 7;
constexpr int kTifEntry = 9;
constexpr int kAllFilesEntry = 11;

class NewCommandTest : public ::testing::Test {
protected:
    NewCommandTest()
    {
        m_Doc.AddView(&m_View);
        InitialNewDocument(m_Doc); // the start-up call
    }

    bool New() { return OnFileNew(m_Doc, nullptr); }

    /// Copies a test file into the temporary folder under another name.
    QString Copy(const QString& relative, const QString& name)
    {
        const QString target = m_Dir.filePath(name);
        QFile::copy(TestDataPath(relative), target);
        return target;
    }

    /// A document holding a loaded JPEG map with points and a model.
    void LoadJpegMap()
    {
        m_Ui.AnswerFile(TestDataPath(QStringLiteral("pictures/jpg/flower.jpg")), kJpgEntry);
        ASSERT_TRUE(New());
        GeoCoefficients coefficients{};
        coefficients[0] = 12.5;
        SetPointsAndModel(m_Doc, std::vector<CDataGeo>(3, CDataGeo{3600, 7200, 0.5, 0.5}), true, coefficients);
        m_Doc.MarkSaved(); // nothing unsaved: New asks only whether to use another map
        m_Ui.m_Messages.clear();
        m_Ui.m_FileDialogs.clear();
        m_View.m_Hints.clear();
    }

    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    RecordingView m_View;
    CQuilletDoc m_Doc;
    QTemporaryDir m_Dir;
};

} // namespace

TEST_F(NewCommandTest, StartUpCallOnlyMarksTheDocumentInitialised)
{
    CQuilletDoc doc;
    EXPECT_TRUE(OnFileNew(doc, nullptr));
    EXPECT_TRUE(doc.IsInitialized());
    EXPECT_TRUE(doc.GetTitle().isEmpty());
    EXPECT_FALSE(doc.IsMapLoaded());
    EXPECT_TRUE(m_Ui.m_FileDialogs.empty());
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(NewCommandTest, SecondCallShowsTheMapDialogWithItsElevenEntries)
{
    EXPECT_FALSE(New()); // cancelled
    ASSERT_EQ(m_Ui.m_FileDialogs.size(), 1u);
    EXPECT_TRUE(m_Ui.m_Messages.empty()); // no map yet: no question first
    const auto& dialog = m_Ui.m_FileDialogs[0];
    EXPECT_FALSE(dialog.m_bSave);
    EXPECT_EQ(dialog.m_strTitle, QStringLiteral("Open a picture file"));
    EXPECT_EQ(dialog.m_strFilter,
              QStringLiteral("Picture Files (bmp.dib.emf.gif.ico.jpg.wmf.tif.tiff)|*.bmp;*.dib;*.emf;*.gif;*.ico;*.jpg;"
                             "*.wmf;*.tif;*.tiff|BMP (*.bmp)|*.bmp|DIB (*.dib)|*.dib|EMF (*.emf)|*.emf|GIF (*.gif)|"
                             "*.gif|ICO (*.ico)|*.ico|JPG (*.jpg)|*.jpg|WMF (*.wmf)|*.wmf|TIF (*.tif)|*.tif|"
                             "TIFF (*.tiff)|*.tiff|All Files (*.*)|*.*||"));
}

TEST_F(NewCommandTest, PictureMapIsLoadedWithItsBytesAndUnitFrame)
{
    const QString path = TestDataPath(QStringLiteral("pictures/jpg/flower.jpg"));
    m_Ui.AnswerFile(path, kJpgEntry);
    EXPECT_TRUE(New());
    EXPECT_EQ(int(m_Doc.MapType()), kJpgEntry);
    EXPECT_TRUE(m_Doc.IsMapLoaded());
    EXPECT_NE(m_Doc.Picture().m_pPicture, nullptr);
    EXPECT_EQ(m_Doc.ImageWidth(), 480);
    EXPECT_EQ(m_Doc.ImageHeight(), 360);
    EXPECT_EQ(m_Doc.MapFileData(), ReadFileBytes(path));
    EXPECT_EQ(m_Doc.MapFileSize(), m_Doc.MapFileData().size());
    EXPECT_EQ(m_Doc.GeoOrigin(), (CDataGeo{0, 0, 0, 0}));
    EXPECT_EQ(m_Doc.GeoExtent(), (CDataGeo{1, 1, 0, 0}));
    EXPECT_EQ(m_Doc.GetTitle(), path);
    EXPECT_TRUE(m_Doc.Images().empty());
    EXPECT_GE(m_View.Updates(), 1);
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(NewCommandTest, DecliningOrCancellingChangesNothing)
{
    for (const bool decline : {true, false}) {
        LoadJpegMap();
        const QString title = m_Doc.GetTitle();
        m_Ui.AnswerMessage(decline ? IDNO : IDYES);
        if (!decline)
            m_Ui.CancelFile();
        EXPECT_FALSE(New());
        ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
        EXPECT_EQ(m_Ui.m_Messages[0].m_strText, QStringLiteral("Do you want to use another map?"));
        EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("New Map"));
        EXPECT_EQ(m_Ui.m_Messages[0].Buttons(), MB_YESNO);
        EXPECT_EQ(m_Ui.m_Messages[0].Icon(), MB_ICONINFORMATION);
        EXPECT_EQ(m_Ui.m_FileDialogs.size(), decline ? 0u : 1u);
        EXPECT_TRUE(m_Doc.IsGeoCoded());
        EXPECT_EQ(m_Doc.ControlPoints().size(), 3u);
        EXPECT_EQ(m_Doc.ImageWidth(), 480);
        EXPECT_EQ(m_Doc.GetTitle(), title);
        EXPECT_EQ(m_Doc.GeoCoef()[0], 12.5);
    }
}

TEST_F(NewCommandTest, ReplacingTheMapClearsPointsAndGeoCoding)
{
    LoadJpegMap();
    m_Doc.SetWorkspaceName(m_Dir.filePath(QStringLiteral("map1c.pws"))); // New forgets it: title and recovery name the new map
    m_Ui.AnswerMessage(IDYES);
    m_Ui.AnswerFile(TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp")), kBmpEntry);
    EXPECT_TRUE(New());
    EXPECT_FALSE(m_Doc.IsGeoCoded());
    EXPECT_TRUE(m_Doc.ControlPoints().empty());
    EXPECT_EQ(m_Doc.ImageWidth(), 127);
    EXPECT_EQ(int(m_Doc.MapType()), kBmpEntry);
    EXPECT_EQ(m_Doc.GetTitle(), TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp")));
    EXPECT_EQ(CaptureRecovery(m_Doc, nullptr).m_strPath, m_Doc.GetTitle());
}

TEST_F(NewCommandTest, AFileThatGivesNoMapIsReportedAndTheMapStays)
{
    const QString notBitmap = m_Dir.filePath(QStringLiteral("notes.bmp"));
    WriteFileBytes(notBitmap, QByteArray("not a bitmap at all"));
    const QString fakeJpeg = m_Dir.filePath(QStringLiteral("fake.jpg"));
    WriteFileBytes(fakeJpeg, QByteArray("plain text, no picture"));
    const QString fakeTiff = m_Dir.filePath(QStringLiteral("fake.tif"));
    WriteFileBytes(fakeTiff, QByteArray("plain text, no picture"));
    const QString brokenTiff = m_Dir.filePath(QStringLiteral("broken.tif"));
    static const char broken[] = "II*\0garbage that is no directory";
    WriteFileBytes(brokenTiff, QByteArray(broken, sizeof broken - 1));
    const struct {
        QString path;
        int entry;
        const char* caption;
    } cases[] = {
        {notBitmap, kBmpEntry, "Invalid File"},
        {fakeJpeg, kJpgEntry, "Invalid File"},
        {fakeJpeg, kPictureFilesEntry, "Invalid File"},
        {fakeTiff, kTifEntry, "TIFF Error"},
        {brokenTiff, kPictureFilesEntry, "TIFF Error"},
        {m_Dir.filePath(QStringLiteral("gone.jpg")), kJpgEntry, "Picture Error"},
    };
    for (const auto& c : cases) {
        LoadJpegMap();
        const QString title = m_Doc.GetTitle();
        const QByteArray bytes = m_Doc.MapFileData();
        m_Ui.AnswerMessage(IDYES);
        m_Ui.AnswerFile(c.path, c.entry);
        EXPECT_FALSE(New()) << c.path.toStdString();
        ASSERT_GE(m_Ui.m_Messages.size(), 2u) << c.path.toStdString();
        EXPECT_EQ(m_Ui.m_Messages[1].m_strCaption, QString::fromLatin1(c.caption)) << c.path.toStdString();
        EXPECT_FALSE(m_Ui.m_Messages[1].m_strText.isEmpty());
        EXPECT_EQ(m_Doc.GetTitle(), title);
        EXPECT_EQ(m_Doc.MapFileData(), bytes);
        EXPECT_EQ(m_Doc.ControlPoints().size(), 3u);
        EXPECT_TRUE(m_Doc.IsGeoCoded());
        EXPECT_EQ(int(m_Doc.MapType()), kJpgEntry);
    }
}

TEST_F(NewCommandTest, AllFilesEntryGoesByTheContent)
{
    const QString jpegAsData = Copy(QStringLiteral("pictures/jpg/hopper.jpg"), QStringLiteral("photo.data"));
    const QString tiffNoExtension = Copy(QStringLiteral("tiff/hopper.tif"), QStringLiteral("scan"));
    const QString text = m_Dir.filePath(QStringLiteral("notes.txt"));
    WriteFileBytes(text, QByteArray("x"));
    const struct {
        QString path;
        bool loaded;
        int mapType;
    } cases[] = {
        {jpegAsData, true, kJpgEntry},
        {tiffNoExtension, true, kTifEntry},
        {text, false, 0},
    };
    for (const auto& c : cases) {
        CQuilletDoc doc;
        InitialNewDocument(doc);
        m_Ui.m_Messages.clear();
        m_Ui.AnswerFile(c.path, kAllFilesEntry);
        EXPECT_EQ(OnFileNew(doc, nullptr), c.loaded) << c.path.toStdString();
        EXPECT_EQ(doc.IsMapLoaded(), c.loaded);
        EXPECT_EQ(int(doc.MapType()), c.mapType);
        if (!c.loaded) {
            ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
            EXPECT_EQ(m_Ui.m_Messages[0].m_strText, QStringLiteral("The file is not supported."));
            EXPECT_TRUE(doc.GetTitle().isEmpty());
        }
    }
}

TEST_F(NewCommandTest, PictureFilesEntryDecidesByTheLastThreeCharacters)
{
    const struct {
        const char* source;
        const char* name;
        int kind;
        bool tiffImages;
    } cases[] = {
        {"tiff/hopper.tif", "photo.tiff", 10, true},
        {"tiff/hopper.tif", "scan.TIF", 9, true},
        {"pictures/jpg/hopper.jpg", "scan.jpeg", 1, false},
        {"pictures/jpg/hopper.jpg", "scan.jpg", 7, false},
        {"pictures/bmp/pal8.bmp", "map.dib", 3, false},
        {"pictures/gif/hopper.gif", "map.GiF", 5, false},
    };
    for (const auto& c : cases) {
        CQuilletDoc doc;
        InitialNewDocument(doc);
        const QString path = Copy(QString::fromLatin1(c.source), QString::fromLatin1(c.name));
        m_Ui.AnswerFile(path, kPictureFilesEntry);
        EXPECT_TRUE(OnFileNew(doc, nullptr)) << c.name;
        EXPECT_EQ(int(doc.MapType()), c.kind) << c.name;
        EXPECT_EQ(doc.Images().size(), c.tiffImages ? 1u : 0u) << c.name;
        EXPECT_EQ(doc.Picture().m_pPicture != nullptr, !c.tiffImages) << c.name;
        EXPECT_TRUE(doc.IsMapLoaded());
    }
}

TEST_F(NewCommandTest, MapTypeFromTheEnding)
{
    const struct {
        const char* path;
        int kind;
    } cases[] = {{"a.bmp", 2}, {"a.DIB", 3}, {"a.emf", 4}, {"a.gif", 5}, {"a.ico", 6}, {"a.jpg", 7},
                 {"a.wmf", 8}, {"a.tif", 9}, {"a.tiff", 10}, {"a.jpeg", 1}, {"a.png", 1}, {"sheriff", 10},
                 {"xbmp", 2}};
    for (const auto& c : cases)
        EXPECT_EQ(MapTypeForNewEntry(kPictureFilesEntry, QString::fromLatin1(c.path)), static_cast<MapKind>(c.kind)) << c.path;
}

TEST_F(NewCommandTest, TiffMapHoldsOneImagePerUsableDirectory)
{
    m_Ui.AnswerFile(TestDataPath(QStringLiteral("tiff/multipage.tiff")), kTifEntry + 1);
    EXPECT_TRUE(New());
    ASSERT_EQ(m_Doc.Images().size(), 3u);
    EXPECT_EQ(m_Doc.Images()[0].m_nWidth, 10);
    EXPECT_EQ(m_Doc.Images()[2].m_nWidth, 20);
    EXPECT_TRUE(m_Doc.IsMapLoaded());
    EXPECT_EQ(m_Doc.Picture().m_pPicture, nullptr);
    EXPECT_TRUE(m_Ui.m_Messages.empty());
    EXPECT_EQ(m_Ui.m_nWaitCursorDepth, 0);
}

TEST_F(NewCommandTest, AnEmptyFirstDirectoryLosesNoImage)
{
    // Directory 1 is 0 pixels wide between two real pictures: both pictures are kept.
    TiffBytes tiff;
    tiff.AddGreyDirectory(3, 2, 2, {QByteArray("\x10\x20\x30\x40\x50\x60", 6)});
    tiff.AddGreyDirectory(0, 4, 4, {QByteArray(1, '\0')});
    tiff.AddGreyDirectory(5, 1, 1, {QByteArray(5, '\x7f')});
    const QString path = m_Dir.filePath(QStringLiteral("gap.tif"));
    WriteFileBytes(path, tiff.Build());
    m_Ui.AnswerFile(path, kTifEntry);
    EXPECT_TRUE(New());
    ASSERT_EQ(m_Doc.Images().size(), 2u);
    EXPECT_EQ(m_Doc.Images()[0].m_nWidth, 3);
    EXPECT_EQ(m_Doc.Images()[1].m_nWidth, 5);
}

TEST_F(NewCommandTest, CommandLineFilesOpenByTheirKind)
{
    const QString jpeg = Copy(QStringLiteral("pictures/jpg/hopper.jpg"), QStringLiteral("photo.jpeg"));
    CQuilletDoc doc;
    EXPECT_TRUE(OpenDocumentFile(doc, nullptr, jpeg));
    EXPECT_EQ(int(doc.MapType()), 1);
    EXPECT_EQ(doc.ImageWidth(), 128);
    EXPECT_TRUE(doc.IsInitialized());
    EXPECT_EQ(doc.GetTitle(), jpeg);

    CQuilletDoc tiff;
    EXPECT_TRUE(OpenDocumentFile(tiff, nullptr, TestDataPath(QStringLiteral("tiff/multipage.tiff"))));
    EXPECT_EQ(int(tiff.MapType()), 10);
    EXPECT_EQ(tiff.Images().size(), 3u);

    CQuilletDoc other;
    const QString text = m_Dir.filePath(QStringLiteral("notes.txt"));
    WriteFileBytes(text, QByteArray("x"));
    EXPECT_FALSE(OpenDocumentFile(other, nullptr, text));
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strText, QStringLiteral("The file is not supported."));
    EXPECT_FALSE(other.IsMapLoaded());
}

TEST_F(NewCommandTest, CommandLineProjectionFilesReplaceTheMap)
{
    LoadJpegMap();
    std::array<double, 16> coefficients{};
    coefficients[1] = 200.0;
    coefficients[4] = -150.0;
    QByteArray cpf;
    WriteCpfProjection(cpf, 127, 64, coefficients, ReadFileBytes(TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp"))));
    const QString path = m_Dir.filePath(QStringLiteral("town.cpf"));
    WriteFileBytes(path, cpf);
    EXPECT_TRUE(OpenDocumentFile(m_Doc, nullptr, path));
    EXPECT_EQ(int(m_Doc.MapType()), 2);
    EXPECT_TRUE(m_Doc.ControlPoints().empty());
    EXPECT_TRUE(m_Doc.IsGeoCoded());
    EXPECT_EQ(m_Doc.GeoCoef(), coefficients);
    EXPECT_EQ(m_Doc.ImageWidth(), 127);
    EXPECT_EQ(m_Doc.WorkspacePath(), path);
    EXPECT_EQ(m_Doc.GetTitle(), path);

    // A damaged one is refused and the map stays.
    const QString damaged = m_Dir.filePath(QStringLiteral("damaged.dpf"));
    WriteFileBytes(damaged, QByteArray(300, '\x01'));
    m_Ui.m_Messages.clear();
    EXPECT_FALSE(OpenDocumentFile(m_Doc, nullptr, damaged));
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid File"));
    EXPECT_EQ(m_Doc.ImageWidth(), 127);
    EXPECT_EQ(m_Doc.GetTitle(), path);
    EXPECT_FALSE(OpenDocumentFile(m_Doc, nullptr, m_Dir.filePath(QStringLiteral("missing.gpf"))));
    EXPECT_EQ(m_Doc.GeoCoef(), coefficients);
    EXPECT_EQ(m_Ui.m_RecentFiles.back(), path); // the damaged and the missing file are not recent files
}
