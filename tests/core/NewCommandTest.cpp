#include "document/CQuilletDoc.h"
#include "output/ProjectionFile.h"
#include "platform/ScriptedUiServices.h"

#include "RecordingView.h"
#include "TestSupport.h"
#include "TiffTestFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr int kPictureFilesEntry = 1;
constexpr int kBmpEntry = 2;
constexpr int kJpgEntry = 7;
constexpr int kTifEntry = 9;
constexpr int kAllFilesEntry = 11;

class NewCommandTest : public ::testing::Test {
protected:
    NewCommandTest()
    {
        m_Doc.AddView(&m_View);
        m_Doc.OnNewDocument(); // the start-up call
    }

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
        ASSERT_EQ(m_Doc.OnNewDocument(), TRUE);
        m_Doc.m_ControlPoints.assign(3, CDataGeo{3600, 7200, 0.5, 0.5});
        m_Doc.m_bGeoCoded = 1;
        m_Doc.m_dGeoCoef[0] = 12.5;
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
    doc.SetTitle(QStringLiteral("stale"));
    EXPECT_EQ(doc.OnNewDocument(), TRUE);
    EXPECT_EQ(doc.m_bInitialized, 1);
    EXPECT_TRUE(doc.GetTitle().isEmpty());
    EXPECT_EQ(doc.m_bMapLoaded, 0);
    EXPECT_TRUE(m_Ui.m_FileDialogs.empty());
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(NewCommandTest, SecondCallShowsTheMapDialogWithItsElevenEntries)
{
    EXPECT_EQ(m_Doc.OnNewDocument(), FALSE); // cancelled
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
    m_Doc.m_GeoOrigin = {5, 6, 0, 0};
    m_Doc.m_FrameExtent = {7, 8, 0, 0};
    m_Ui.AnswerFile(path, kJpgEntry);
    EXPECT_EQ(m_Doc.OnNewDocument(), TRUE);
    EXPECT_EQ(m_Doc.m_nMapType, kJpgEntry);
    EXPECT_EQ(m_Doc.m_bMapLoaded, 1);
    EXPECT_NE(m_Doc.m_Picture.m_pPicture, nullptr);
    EXPECT_EQ(m_Doc.m_nImageWidth, 480);
    EXPECT_EQ(m_Doc.m_nImageHeight, 360);
    EXPECT_EQ(m_Doc.m_MapFileData, ReadFileBytes(path));
    EXPECT_EQ(m_Doc.m_nMapFileSize, m_Doc.m_MapFileData.size());
    EXPECT_EQ(m_Doc.m_GeoOrigin, (CDataGeo{0, 0, 0, 0}));
    EXPECT_EQ(m_Doc.m_GeoExtent, (CDataGeo{1, 1, 0, 0}));
    EXPECT_EQ(m_Doc.m_FrameOrigin, (CDataGeo{0, 0, 0, 0}));
    EXPECT_EQ(m_Doc.m_FrameExtent, (CDataGeo{1, 1, 0, 0}));
    EXPECT_EQ(m_Doc.GetTitle(), path);
    EXPECT_TRUE(m_Doc.m_Images.empty());
    EXPECT_GE(m_View.Updates(), 1);
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(NewCommandTest, DecliningAnotherMapChangesNothing)
{
    LoadJpegMap();
    m_Ui.AnswerMessage(IDNO);
    EXPECT_EQ(m_Doc.OnNewDocument(), FALSE);
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strText, QStringLiteral("Do you want to use another map?"));
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("New Map"));
    EXPECT_EQ(m_Ui.m_Messages[0].Buttons(), MB_YESNO);
    EXPECT_EQ(m_Ui.m_Messages[0].Icon(), MB_ICONINFORMATION);
    EXPECT_TRUE(m_Ui.m_FileDialogs.empty());
    EXPECT_EQ(m_Doc.m_bGeoCoded, 1);
    EXPECT_EQ(m_Doc.m_ControlPoints.size(), 3u);
    EXPECT_EQ(m_Doc.m_nImageWidth, 480);
}

TEST_F(NewCommandTest, CancellingAfterYesKeepsThePictureButWithdrawsTheGeoCoding)
{
    LoadJpegMap();
    const QString title = m_Doc.GetTitle();
    m_Ui.AnswerMessage(IDYES);
    m_Ui.CancelFile();
    EXPECT_EQ(m_Doc.OnNewDocument(), FALSE);
    EXPECT_EQ(m_Doc.m_bGeoCoded, 0);
    EXPECT_EQ(m_Doc.m_bMapLoaded, 1);
    EXPECT_NE(m_Doc.m_Picture.m_pPicture, nullptr);
    EXPECT_FALSE(m_Doc.m_MapFileData.isEmpty());
    EXPECT_EQ(m_Doc.m_ControlPoints.size(), 3u);
    EXPECT_EQ(m_Doc.GetTitle(), title);
    EXPECT_EQ(m_Doc.m_dGeoCoef[0], 12.5);
}

TEST_F(NewCommandTest, ReplacingTheMapClearsPointsAndGeoCoding)
{
    LoadJpegMap();
    m_Ui.AnswerMessage(IDYES);
    m_Ui.AnswerFile(TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp")), kBmpEntry);
    EXPECT_EQ(m_Doc.OnNewDocument(), TRUE);
    EXPECT_EQ(m_Doc.m_bGeoCoded, 0);
    EXPECT_TRUE(m_Doc.m_ControlPoints.empty());
    EXPECT_EQ(m_Doc.m_nImageWidth, 127);
    EXPECT_EQ(m_Doc.m_nMapType, kBmpEntry);
}

TEST_F(NewCommandTest, UndecodablePictureLeavesAnEmptyMap)
{
    const QString path = m_Dir.filePath(QStringLiteral("notes.bmp"));
    WriteFileBytes(path, QByteArray("not a bitmap at all"));
    m_Ui.AnswerFile(path, kBmpEntry);
    EXPECT_EQ(m_Doc.OnNewDocument(), TRUE);
    EXPECT_EQ(m_Doc.m_bMapLoaded, 1);
    EXPECT_EQ(m_Doc.m_Picture.m_pPicture, nullptr);
    EXPECT_EQ(m_Doc.m_nImageWidth, 0);
    EXPECT_EQ(m_Doc.m_nImageHeight, 0);
    EXPECT_EQ(m_Doc.m_MapFileData, QByteArray("not a bitmap at all"));
    EXPECT_EQ(m_Doc.GetTitle(), path);
}

TEST_F(NewCommandTest, MissingPictureIsReportedByThePictureService)
{
    const QString path = m_Dir.filePath(QStringLiteral("gone.jpg"));
    m_Ui.AnswerFile(path, kJpgEntry);
    EXPECT_EQ(m_Doc.OnNewDocument(), TRUE);
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("CPicture Error"));
    EXPECT_EQ(m_Doc.m_bMapLoaded, 1);
    EXPECT_TRUE(m_Doc.m_MapFileData.isEmpty());
    EXPECT_EQ(m_Doc.m_nMapFileSize, 0);
}

TEST_F(NewCommandTest, AllFilesEntryRefusesEvenAPicture)
{
    LoadJpegMap();
    m_Ui.AnswerMessage(IDYES);
    const QString path = TestDataPath(QStringLiteral("pictures/jpg/hopper.jpg"));
    m_Ui.AnswerFile(path, kAllFilesEntry);
    EXPECT_EQ(m_Doc.OnNewDocument(), TRUE);
    ASSERT_EQ(m_Ui.m_Messages.size(), 2u);
    EXPECT_EQ(m_Ui.m_Messages[1].m_strText, QStringLiteral("The file is not supported."));
    EXPECT_EQ(m_Ui.m_Messages[1].m_strCaption, QStringLiteral("Invalid File"));
    EXPECT_EQ(m_Ui.m_Messages[1].Icon(), MB_ICONSTOP);
    // Points and file bytes are gone, the old picture stays, the title is the new path.
    EXPECT_TRUE(m_Doc.m_ControlPoints.empty());
    EXPECT_TRUE(m_Doc.m_MapFileData.isEmpty());
    EXPECT_NE(m_Doc.m_Picture.m_pPicture, nullptr);
    EXPECT_EQ(m_Doc.m_bMapLoaded, 1);
    EXPECT_EQ(m_Doc.GetTitle(), path);
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
        doc.OnNewDocument();
        const QString path = Copy(QString::fromLatin1(c.source), QString::fromLatin1(c.name));
        m_Ui.AnswerFile(path, kPictureFilesEntry);
        EXPECT_EQ(doc.OnNewDocument(), TRUE) << c.name;
        EXPECT_EQ(doc.m_nMapType, c.kind) << c.name;
        EXPECT_EQ(doc.m_Images.size(), c.tiffImages ? 1u : 0u) << c.name;
        EXPECT_EQ(doc.m_Picture.m_pPicture != nullptr, !c.tiffImages) << c.name;
        EXPECT_EQ(doc.m_bMapLoaded, 1);
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
    for (const auto& c : cases) {
        CQuilletDoc doc;
        doc.m_nMapType = 1;
        doc.GetMapTypeFromExtension(QString::fromLatin1(c.path));
        EXPECT_EQ(doc.m_nMapType, c.kind) << c.path;
    }
}

TEST_F(NewCommandTest, TiffMapHoldsOneImagePerUsableDirectory)
{
    m_Ui.AnswerFile(TestDataPath(QStringLiteral("tiff/multipage.tiff")), kTifEntry + 1);
    EXPECT_EQ(m_Doc.OnNewDocument(), TRUE);
    ASSERT_EQ(m_Doc.m_Images.size(), 3u);
    EXPECT_EQ(m_Doc.m_Images[0].m_nWidth, 10);
    EXPECT_EQ(m_Doc.m_Images[2].m_nWidth, 20);
    EXPECT_EQ(m_Doc.m_bMapLoaded, 1);
    EXPECT_EQ(m_Doc.m_Picture.m_pPicture, nullptr);
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
    EXPECT_EQ(m_Doc.OnNewDocument(), TRUE);
    ASSERT_EQ(m_Doc.m_Images.size(), 2u);
    EXPECT_EQ(m_Doc.m_Images[0].m_nWidth, 3);
    EXPECT_EQ(m_Doc.m_Images[1].m_nWidth, 5);
}

TEST_F(NewCommandTest, UnreadableTiffIsReportedAndLeavesNoImages)
{
    const QString path = m_Dir.filePath(QStringLiteral("broken.tif"));
    WriteFileBytes(path, QByteArray("II*\0garbage that is no directory", 34));
    m_Ui.AnswerFile(path, kTifEntry);
    EXPECT_EQ(m_Doc.OnNewDocument(), TRUE);
    EXPECT_TRUE(m_Doc.m_Images.empty());
    EXPECT_EQ(m_Doc.m_bMapLoaded, 1);
    ASSERT_FALSE(m_Ui.m_Messages.empty());
    EXPECT_EQ(m_Ui.m_Messages[0].Icon(), MB_ICONSTOP);
}

TEST_F(NewCommandTest, CommandLineFilesOpenByTheirKind)
{
    const QString jpeg = Copy(QStringLiteral("pictures/jpg/hopper.jpg"), QStringLiteral("photo.jpeg"));
    CQuilletDoc doc;
    EXPECT_TRUE(doc.OpenDocumentFile(jpeg));
    EXPECT_EQ(doc.m_nMapType, 1);
    EXPECT_EQ(doc.m_nImageWidth, 128);
    EXPECT_EQ(doc.m_bInitialized, 1);
    EXPECT_EQ(doc.GetTitle(), jpeg);

    CQuilletDoc tiff;
    EXPECT_TRUE(tiff.OpenDocumentFile(TestDataPath(QStringLiteral("tiff/multipage.tiff"))));
    EXPECT_EQ(tiff.m_nMapType, 10);
    EXPECT_EQ(tiff.m_Images.size(), 3u);

    CQuilletDoc other;
    const QString text = m_Dir.filePath(QStringLiteral("notes.txt"));
    WriteFileBytes(text, QByteArray("x"));
    EXPECT_FALSE(other.OpenDocumentFile(text));
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strText, QStringLiteral("The file is not supported."));
    EXPECT_EQ(other.m_bMapLoaded, 0);
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
    EXPECT_TRUE(m_Doc.OpenDocumentFile(path));
    EXPECT_EQ(m_Doc.m_nMapType, 2);
    EXPECT_TRUE(m_Doc.m_ControlPoints.empty());
    EXPECT_EQ(m_Doc.m_bGeoCoded, 1);
    EXPECT_EQ(m_Doc.m_dGeoCoef, coefficients);
    EXPECT_EQ(m_Doc.m_nImageWidth, 127);
    EXPECT_EQ(m_Doc.m_strWorkspacePath, path);
    EXPECT_EQ(m_Doc.GetTitle(), path);

    // A damaged one is refused and the map stays.
    const QString damaged = m_Dir.filePath(QStringLiteral("damaged.dpf"));
    WriteFileBytes(damaged, QByteArray(300, '\x01'));
    m_Ui.m_Messages.clear();
    EXPECT_FALSE(m_Doc.OpenDocumentFile(damaged));
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid File"));
    EXPECT_EQ(m_Doc.m_nImageWidth, 127);
    EXPECT_EQ(m_Doc.GetTitle(), path);
    EXPECT_FALSE(m_Doc.OpenDocumentFile(m_Dir.filePath(QStringLiteral("missing.gpf"))));
    EXPECT_EQ(m_Doc.m_dGeoCoef, coefficients);
}
