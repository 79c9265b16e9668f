// The Save, Save As and Open commands with workspace files, and Open's projection-file entries.

#include "commands/BitmapCommand.h"
#include "commands/ExportCommands.h"
#include "commands/FileCommands.h"
#include "commands/OutputCommand.h"
#include "document/CQuilletDoc.h"
#include "formats/WorkspaceFile.h"
#include "formats/ProjectionFile.h"
#include "ScriptedUiServices.h"
#include "view/core/ViewState.h"

#include "RecordingView.h"
#include "TestDocs.h"
#include "TestSupport.h"
#include "TiffTestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>

#include "geo/GeoFit.h"
#include "geo/Geodesy.h"

#include <proj.h>

#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <sys/resource.h>

namespace {

constexpr int kJpgEntry = 7;  // New dialog
constexpr int kTifEntry = 9;  // New dialog
constexpr int kPwsEntry = 1;  // Open dialog: "Projection Work Space (pws)"
constexpr int kCpfEntry = 2;  // Open dialog: "CPF (*.cpf)"
constexpr int kDpfEntry = 3;  // Open dialog: "DPF (*.dpf)"
constexpr int kGpfEntry = 4;  // Open dialog: "GPF (*.gpf)"
constexpr int kAllEntry = 5;  // Open dialog: "All Files (*.*)"

const QString kSaveFilter = QStringLiteral("Projection Work Space (pws)|*.pws|pws (*.pws)|*.pws|All Files (*.*)|*.*||");
const QString kOpenFilter =
    QStringLiteral("Projection Work Space (pws)|*.pws|CPF (*.cpf)|*.cpf|DPF (*.dpf)|*.dpf|GPF (*.gpf)|*.gpf|All Files (*.*)|*.*||");

std::int32_t Int32At(const QByteArray& file, qsizetype offset)
{
    return qFromLittleEndian<qint32>(file.constData() + offset);
}

/// Scripted services that also note how long the watched file was (-1: absent) whenever a
/// message box is shown, so a test can tell whether a message came before or after the write.
class WatchingUi : public ScriptedUiServices {
public:
    int MessageBox(const QString& text, const QString& caption, unsigned type) override
    {
        const QFileInfo info(m_strWatched);
        m_SizesAtMessage.push_back(info.exists() ? info.size() : -1);
        return ScriptedUiServices::MessageBox(text, caption, type);
    }
    void Forget()
    {
        m_Messages.clear();
        m_FileDialogs.clear();
        m_SizesAtMessage.clear();
    }

    QString m_strWatched;
    std::vector<qint64> m_SizesAtMessage;
};

/// Lowers the limit on the size of files this process writes, so that a write fails part-way
/// (as on a full disk) even for a user whom folder permissions do not stop.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_Previous);
        m_PreviousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_Previous;
        lowered.rlim_cur = bytes;
        m_bActive = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_Previous);
        std::signal(SIGXFSZ, m_PreviousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Active() const { return m_bActive; }

private:
    rlimit m_Previous{};
    void (*m_PreviousHandler)(int) = SIG_DFL;
    bool m_bActive = false;
};

/// Everything of the document and view that a refused Open must leave as it was.
struct Snapshot {
    QString m_strTitle;
    QString m_strWorkspacePath;
    QString m_strMapPath;
    int m_bWorkspaceNamed;
    MapKind m_nMapType;
    int m_bMapLoaded;
    int m_bGeoCoded;
    int m_nImageWidth;
    int m_nImageHeight;
    std::array<std::uint64_t, 16> m_nGeoCoefBits; ///< bits, so that a NaN compares equal to itself
    std::vector<CDataGeo> m_ControlPoints;
    QByteArray m_MapFileData;
    int m_nMapFileSize;
    std::size_t m_nImages;
    const IPicture* m_pPicture;
    CDataGeo m_GeoOrigin, m_GeoExtent, m_FrameOrigin, m_FrameExtent;
    double m_dWinLeft, m_dWinRight, m_dWinBottom, m_dWinTop;
    bool m_bGeoTiffFrame;
    int m_nSelectedImage;
    int m_nViewUpdates;

    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

Snapshot Take(const CQuilletDoc& doc, const ViewState& view, const RecordingView& recorder)
{
    return {doc.GetTitle(), doc.WorkspacePath(), doc.MapPath(), doc.IsWorkspaceNamed(), doc.MapType(),
            doc.IsMapLoaded(), doc.IsGeoCoded(), doc.ImageWidth(), doc.ImageHeight(),
            std::bit_cast<std::array<std::uint64_t, 16>>(doc.GeoCoef()),
            doc.ControlPoints(), doc.MapFileData(), doc.MapFileSize(), doc.Images().size(),
            doc.Picture().m_pPicture.get(), doc.GeoOrigin(), doc.GeoExtent(), view.FrameOrigin(), view.FrameExtent(),
            view.Window().m_dLeft, view.Window().m_dRight, view.Window().m_dBottom, view.Window().m_dTop, doc.HasGeoTiffFrame(),
            doc.CurrentImage(), recorder.Updates()};
}

/// The points of doc with one more, as an edit leaves them (the model stays).
void AddPoint(CQuilletDoc& doc, const CDataGeo& point)
{
    std::vector<CDataGeo> points = doc.ControlPoints();
    points.push_back(point);
    SetPointsAndModel(doc, points, doc.IsGeoCoded(), doc.GeoCoef());
}

void DropLastPoint(CQuilletDoc& doc)
{
    std::vector<CDataGeo> points = doc.ControlPoints();
    points.pop_back();
    SetPointsAndModel(doc, points, doc.IsGeoCoded(), doc.GeoCoef());
}

/// The workspace of a TIFF map at mapPath as stored, without decoding anything.
QByteArray TiffWorkspace(const QString& mapPath, std::int32_t imageCount, const std::vector<CDataGeo>& points,
                         std::int32_t geoCoded = 0, std::int32_t mapType = 10)
{
    WorkspaceContents contents;
    contents.m_nGeoCoded = geoCoded;
    contents.m_nMapType = mapType;
    WorkspaceTiffPart tiff;
    tiff.m_nImageCount = imageCount;
    tiff.m_PathBytes = mapPath.toUtf8() + QByteArray(1, '\0');
    contents.m_Tiff = tiff;
    contents.m_ControlPoints = points;
    return EncodeWorkspace(contents);
}

std::array<double, 16> SampleCoefficients()
{
    std::array<double, 16> c{};
    for (int i = 0; i < 16; ++i)
        c[i] = (i + 1) * 1.5 - 7.0 / (i + 3); // every slot set, c2, c6 and c8 to c15 included
    c[2] = -0.0;
    c[11] = std::bit_cast<double>(std::uint64_t{0x7ff8000000000abc}); // a NaN with a payload
    return c;
}

bool SameBits(const std::array<double, 16>& a, const std::array<double, 16>& b)
{
    return std::memcmp(a.data(), b.data(), sizeof(double) * 16) == 0;
}

std::vector<CDataGeo> SevenPoints()
{
    std::vector<CDataGeo> points;
    for (int i = 0; i < 7; ++i)
        points.push_back({3600.0 * (30 + i) + 0.125, 3600.0 * (100 - i) - 0.75, 0.125 * i, 1.0 - 0.125 * i});
    return points;
}

class WorkspaceCommandTest : public ::testing::Test {
protected:
    WorkspaceCommandTest()
    {
        m_Doc.AddView(&m_View);
        InitialNewDocument(m_Doc); // the start-up call
    }

    void Save() { OnFileSave(m_Doc, &m_ViewState); }
    void SaveAs() { OnFileSaveAs(m_Doc, &m_ViewState); }
    void Open() { OnFileOpen(m_Doc, &m_ViewState); }

    QString Path(const QString& name) const { return m_Dir.filePath(name); }

    /// hopper.jpg padded with zero bytes to 12 345 bytes (a JPEG decoder stops at its end
    /// marker, so the picture still loads).
    QString PaddedJpeg()
    {
        QByteArray bytes = ReadFileBytes(TestDataPath(QStringLiteral("pictures/jpg/hopper.jpg")));
        EXPECT_LT(bytes.size(), 12345);
        bytes.append(QByteArray(12345 - bytes.size(), '\0'));
        const QString path = Path(QStringLiteral("photo.jpg"));
        WriteFileBytes(path, bytes);
        return path;
    }

    /// Loads a picture map with the New command into doc and forgets the interaction.
    void LoadMap(CQuilletDoc& doc, const QString& path, int entry)
    {
        m_Ui.AnswerFile(path, entry);
        ASSERT_TRUE(OnFileNew(doc, nullptr));
        doc.MarkSaved(); // the tests here are about files, not about unsaved work
        m_Ui.Forget();
    }

    /// The document with the padded JPEG as its map, seven points and a model.
    void LoadWorkedMap(BOOL geoCoded = 1)
    {
        LoadMap(m_Doc, PaddedJpeg(), kJpgEntry);
        SetPointsAndModel(m_Doc, SevenPoints(), geoCoded != 0, SampleCoefficients());
    }

    /// Saves with Save As under the name given in the dialog.
    void SaveAs(const QString& chosen)
    {
        m_Ui.AnswerFile(chosen, 1);
        SaveAs();
    }

    /// Every file under the temporary folder, relative to it, sorted.
    QStringList Files() const
    {
        QStringList files;
        QDirIterator it(m_Dir.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(m_Dir.path()).relativeFilePath(it.next());
        files.sort();
        return files;
    }

    WatchingUi m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    RecordingView m_View;
    ViewState m_ViewState;
    CQuilletDoc m_Doc;
    QTemporaryDir m_Dir;
};

/// A second document with its own view, as a later run of the program has.
struct OtherRun {
    OtherRun()
    {
        m_Doc.AddView(&m_View);
        InitialNewDocument(m_Doc);
    }
    void Open() { OnFileOpen(m_Doc, &m_ViewState); }
    void SaveAs() { OnFileSaveAs(m_Doc, &m_ViewState); }
    RecordingView m_View;
    ViewState m_ViewState;
    CQuilletDoc m_Doc;
};

} // namespace

TEST_F(WorkspaceCommandTest, NothingIsSavedWithoutAMap)
{
    m_Ui.AnswerFile(Path(QStringLiteral("work.pws")), 1);
    Save();
    SaveAs();
    EXPECT_TRUE(m_Ui.m_FileDialogs.empty());
    EXPECT_TRUE(m_Ui.m_Messages.empty());
    EXPECT_TRUE(Files().isEmpty());
    EXPECT_FALSE(m_Doc.IsWorkspaceNamed());
}

TEST_F(WorkspaceCommandTest, PictureWorkspaceRoundTripKeepsPointsModelAndPicture)
{
    LoadWorkedMap();
    const QString path = Path(QStringLiteral("work.pws"));
    SaveAs(path);

    ASSERT_EQ(m_Ui.m_FileDialogs.size(), 1u);
    EXPECT_TRUE(m_Ui.m_FileDialogs[0].m_bSave);
    EXPECT_EQ(m_Ui.m_FileDialogs[0].m_strTitle, QStringLiteral("Save Work Space"));
    EXPECT_EQ(m_Ui.m_FileDialogs[0].m_strFilter, kSaveFilter);
    EXPECT_TRUE(m_Ui.m_Messages.empty());
    EXPECT_EQ(m_Doc.WorkspacePath(), path);
    EXPECT_TRUE(m_Doc.IsWorkspaceNamed());
    EXPECT_EQ(m_Doc.MapFileSize(), 12345);
    EXPECT_EQ(QFileInfo(path).size(), 12725);
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("photo.jpg"), QStringLiteral("work.pws")}));
    // The size the map was worked at is stored and wins over the picture's own on opening.
    QByteArray stored = ReadFileBytes(path);
    EXPECT_EQ(Int32At(stored, 12), 128);
    qToLittleEndian<qint32>(640, stored.data() + 12);
    qToLittleEndian<qint32>(480, stored.data() + 16);
    WriteFileBytes(path, stored);

    OtherRun later;
    LoadPictureMap(later.m_Doc, 30, 20);
    SetPointsAndModel(later.m_Doc, {{1, 1, 1, 1}}, false, {});
    m_Ui.AnswerFile(path, kPwsEntry);
    later.Open();

    ASSERT_EQ(m_Ui.m_FileDialogs.size(), 2u);
    EXPECT_FALSE(m_Ui.m_FileDialogs[1].m_bSave);
    EXPECT_EQ(m_Ui.m_FileDialogs[1].m_strTitle, QStringLiteral("Open A Work Space File"));
    EXPECT_EQ(m_Ui.m_FileDialogs[1].m_strFilter, kOpenFilter);
    EXPECT_TRUE(m_Ui.m_Messages.empty());
    const CQuilletDoc& doc = later.m_Doc;
    EXPECT_EQ(doc.ControlPoints(), SevenPoints());
    EXPECT_TRUE(SameBits(doc.GeoCoef(), SampleCoefficients()));
    EXPECT_TRUE(doc.IsGeoCoded());
    EXPECT_EQ(int(doc.MapType()), kJpgEntry);
    EXPECT_EQ(doc.ImageWidth(), 640);
    EXPECT_EQ(doc.ImageHeight(), 480);
    EXPECT_EQ(doc.MapFileData(), ReadFileBytes(Path(QStringLiteral("photo.jpg"))));
    EXPECT_EQ(doc.MapFileSize(), 12345);
    ASSERT_NE(doc.Picture().m_pPicture, nullptr);
    EXPECT_EQ(doc.GeoOrigin(), (CDataGeo{0, 0, 0, 0}));
    EXPECT_EQ(doc.GeoExtent(), (CDataGeo{1, 1, 0, 0}));
    EXPECT_EQ(later.m_ViewState.FrameOrigin(), (CDataGeo{0, 0, 0, 0}));
    EXPECT_EQ(later.m_ViewState.FrameExtent(), (CDataGeo{1, 1, 0, 0}));
    EXPECT_TRUE(doc.Images().empty());
    EXPECT_TRUE(doc.IsMapLoaded());
    EXPECT_TRUE(doc.IsInitialized());
    EXPECT_EQ(doc.WorkspacePath(), path);
    EXPECT_EQ(doc.GetTitle(), path);
    EXPECT_TRUE(doc.MapPath().isEmpty()); // the picture travels inside the workspace
    EXPECT_TRUE(doc.IsWorkspaceNamed()); // saved where it was opened from
    ASSERT_GE(later.m_View.Updates(), 1);
    EXPECT_EQ(later.m_View.m_Hints.back(), DocChange::kAll);

    // Written again from the reopened document, the file is the same byte for byte.
    m_Ui.AnswerFile(Path(QStringLiteral("again.pws")), 1);
    later.SaveAs();
    EXPECT_EQ(ReadFileBytes(Path(QStringLiteral("again.pws"))), stored);
    EXPECT_EQ(m_Ui.m_RecentFiles,
              (std::vector<QString>{Path(QStringLiteral("photo.jpg")), path, path, Path(QStringLiteral("again.pws"))}));
}

TEST_F(WorkspaceCommandTest, ChosenNameIsCutAtTheFirstDotOfTheFileName)
{
    ASSERT_TRUE(QDir(m_Dir.path()).mkpath(QStringLiteral("my.maps")));
    LoadWorkedMap();
    const struct {
        const char* chosen;
        int filter;
        const char* written;
    } cases[] = {
        {"area.old.pws", 1, "area.pws"},
        {"plain", 1, "plain.pws"},
        {"my.maps/inner", 2, "my.maps/inner.pws"},
        {"my.maps/town.v2.backup", 3, "my.maps/town.pws"},
        {"dot.", 1, "dot.pws"},
        {"shape.PWS", 1, "shape.pws"},
    };
    QStringList expected = {QStringLiteral("photo.jpg")};
    for (const auto& c : cases) {
        m_Ui.AnswerFile(Path(QString::fromLatin1(c.chosen)), c.filter);
        SaveAs();
        const QString written = Path(QString::fromLatin1(c.written));
        EXPECT_EQ(m_Doc.WorkspacePath(), written) << c.chosen;
        EXPECT_EQ(QFileInfo(written).size(), 12725) << c.chosen;
        expected << QString::fromLatin1(c.written);
    }
    expected.sort();
    // Only the cut names exist: neither the names as typed nor any temporary file.
    EXPECT_EQ(Files(), expected);
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(WorkspaceCommandTest, SaveAsThenCancelWritesNothing)
{
    LoadWorkedMap();
    const QString path = Path(QStringLiteral("area.pws"));
    SaveAs(path);
    ASSERT_EQ(QFileInfo(path).size(), 12725);

    AddPoint(m_Doc, {1, 2, 0.5, 0.5});
    m_Ui.CancelFile();
    SaveAs();
    EXPECT_EQ(m_Ui.m_FileDialogs.size(), 2u); // the dialog is always shown
    EXPECT_EQ(m_Doc.WorkspacePath(), path);
    const QByteArray file = ReadFileBytes(path);
    EXPECT_EQ(file.size(), 12725);
    EXPECT_EQ(Int32At(file, 152 + 12345), 7);
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("area.pws"), QStringLiteral("photo.jpg")}));
}

TEST_F(WorkspaceCommandTest, SaveDialogsAskAboutTheNameWrittenAndNeverReplaceTheMap)
{
    LoadWorkedMap();
    m_ViewState.KeepViewBitmap(std::make_unique<QImage>(8, 8, QImage::Format_RGB32));
    const std::pair<const char*, std::function<void()>> commands[] = {
        {"x.pws", [&] { SaveAs(); }}, {"x.gpf", [&] { OnOutputGeoMap(m_Doc, &m_ViewState); }},
        {"x.bmp", [&] { OnSaveViewAsBitmap(m_Doc, m_ViewState); }},
        {"x.tif", [&] { OnExportGeoreferenced(m_Doc, &m_ViewState); }}};
    for (const auto& [written, command] : commands)
        for (const bool linkToMap : {false, true}) {
            SCOPED_TRACE(std::string(written) + (linkToMap ? ", a link to the map" : ", an earlier file"));
            const QString path = Path(QString::fromLatin1(written));
            QFile::remove(path);
            ASSERT_TRUE(linkToMap ? QFile::link(Path(QStringLiteral("photo.jpg")), path)
                                  : QFile(path).open(QIODevice::WriteOnly));
            const QByteArray before = ReadFileBytes(path);
            m_Ui.Forget();
            m_Ui.AnswerFile(Path(QStringLiteral("x.v2")), 1);
            m_Ui.AnswerMessage(IDNO);
            command();
            // Asked about, or refused, by the name that would be written; then the dialog again.
            const QString said =
                linkToMap ? QStringLiteral(" is the file this map was read from") : QStringLiteral(" already exists.");
            EXPECT_TRUE(m_Ui.m_Messages.size() == 1 && m_Ui.m_Messages[0].m_strText.startsWith(QLatin1String(written) + said));
            EXPECT_EQ(m_Ui.m_FileDialogs.size() == 2 ? m_Ui.m_FileDialogs[1].m_strProposal : QString(), path);
            EXPECT_EQ(ReadFileBytes(path), before);
        }
}

TEST_F(WorkspaceCommandTest, SaveAsCancelledBeforeAnyNameWritesNothing)
{
    LoadWorkedMap();
    m_Ui.CancelFile();
    SaveAs();
    m_Ui.CancelFile();
    Save();
    EXPECT_EQ(m_Ui.m_FileDialogs.size(), 2u);
    EXPECT_FALSE(m_Doc.IsWorkspaceNamed());
    EXPECT_TRUE(m_Doc.WorkspacePath().isEmpty());
    EXPECT_TRUE(m_Ui.m_Messages.empty());
    EXPECT_EQ(Files(), QStringList{QStringLiteral("photo.jpg")});
}

TEST_F(WorkspaceCommandTest, SaveAsksForANameOnceThenWritesWithoutAsking)
{
    LoadWorkedMap();
    const QString path = Path(QStringLiteral("work.pws"));
    m_Ui.AnswerFile(path, 1);
    Save();
    ASSERT_EQ(m_Ui.m_FileDialogs.size(), 1u);
    EXPECT_EQ(m_Ui.m_FileDialogs[0].m_strTitle, QStringLiteral("Save Work Space"));
    EXPECT_EQ(QFileInfo(path).size(), 12725);

    DropLastPoint(m_Doc);
    Save();
    EXPECT_EQ(m_Ui.m_FileDialogs.size(), 1u);
    EXPECT_EQ(QFileInfo(path).size(), 12725 - 32);
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("photo.jpg"), QStringLiteral("work.pws")}));
}

TEST_F(WorkspaceCommandTest, UngeocodedMapIsWrittenFirstThenReportedAndReopensUngeocoded)
{
    LoadWorkedMap(0);
    const QString path = Path(QStringLiteral("draft.pws"));
    m_Ui.m_strWatched = path;
    SaveAs(path);

    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_TRUE(m_Ui.m_Messages[0].m_strText.startsWith(QStringLiteral("Saved. The map is not geo-coded yet")));
    EXPECT_EQ(m_Ui.m_Messages[0].Buttons(), MB_OK);
    EXPECT_EQ(m_Ui.m_Messages[0].Icon(), MB_ICONINFORMATION);
    EXPECT_EQ(m_Ui.m_SizesAtMessage[0], 12725); // the whole file was there when the box came up
    const QByteArray file = ReadFileBytes(path);
    EXPECT_EQ(file.size(), 12725);
    EXPECT_EQ(Int32At(file, 4), 0);

    OtherRun later;
    m_Ui.Forget();
    m_Ui.AnswerFile(path, kPwsEntry);
    later.Open();
    EXPECT_TRUE(m_Ui.m_Messages.empty());
    EXPECT_FALSE(later.m_Doc.IsGeoCoded());
    EXPECT_TRUE(later.m_Doc.IsMapLoaded());
    EXPECT_EQ(later.m_Doc.ControlPoints(), SevenPoints());
}

TEST_F(WorkspaceCommandTest, FailedWriteKeepsTheFileThatWasThere)
{
    LoadWorkedMap(0);
    const QString path = Path(QStringLiteral("work.pws"));
    const QByteArray previous("the workspace saved before");
    WriteFileBytes(path, previous);
    m_Ui.AnswerFile(path, 1);
    {
        // The new file would be 12 725 bytes: the write stops part-way.
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Active());
        SaveAs();
    }
    m_Ui.m_Messages.erase(m_Ui.m_Messages.begin()); // Yes to replacing the file
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u); // no "need more points" after a failed write
    EXPECT_EQ(m_Ui.m_Messages[0].m_strText,
              QStringLiteral("Can not open this file. (%1)").arg(QString::fromLocal8Bit(std::strerror(EFBIG))));
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid File"));
    EXPECT_EQ(m_Ui.m_Messages[0].Buttons(), MB_OKCANCEL);
    EXPECT_EQ(m_Ui.m_Messages[0].Icon(), MB_ICONINFORMATION);
    EXPECT_EQ(ReadFileBytes(path), previous);
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("photo.jpg"), QStringLiteral("work.pws")}));

    // With room again the same name is written.
    m_Ui.Forget();
    Save();
    EXPECT_EQ(QFileInfo(path).size(), 12725);
}

TEST_F(WorkspaceCommandTest, TargetInAMissingFolderIsReported)
{
    LoadWorkedMap();
    SaveAs(Path(QStringLiteral("gone/work.pws")));
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strText,
              QStringLiteral("Can not open this file. (%1)").arg(QString::fromLocal8Bit(std::strerror(ENOENT))));
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid File"));
    EXPECT_EQ(Files(), QStringList{QStringLiteral("photo.jpg")});
}

TEST_F(WorkspaceCommandTest, CancelledOpenChangesNothing)
{
    LoadWorkedMap();
    const Snapshot before = Take(m_Doc, m_ViewState, m_View);
    m_Ui.CancelFile();
    Open();
    EXPECT_EQ(m_Ui.m_FileDialogs.size(), 1u);
    EXPECT_TRUE(m_Ui.m_Messages.empty());
    EXPECT_TRUE(Take(m_Doc, m_ViewState, m_View) == before);
}

TEST_F(WorkspaceCommandTest, TheSelectedFilterEntryChoosesTheReader)
{
    // One file of each flavour, each opened under every entry of the Open dialog.
    LoadWorkedMap();
    const QString pws = Path(QStringLiteral("work.pws"));
    SaveAs(pws);
    const QByteArray bmp = ReadFileBytes(TestDataPath(QStringLiteral("pictures/bmp/rgb24.bmp")));
    std::array<double, 16> model{};
    model[1] = 200.0;
    model[4] = -150.0;
    QByteArray cpfBytes;
    WriteCpfProjection(cpfBytes, 127, 64, model, bmp);
    const QString cpf = Path(QStringLiteral("town.cpf"));
    WriteFileBytes(cpf, cpfBytes);
    QByteArray dpfBytes;
    WriteDpfHeader(dpfBytes, kDpfTag, model);
    WriteDpfPayload(dpfBytes, bmp);
    const QString dpf = Path(QStringLiteral("town.dpf"));
    WriteFileBytes(dpf, dpfBytes);
    QByteArray gpfBytes;
    WriteDpfHeader(gpfBytes, kGpfTag, model);
    WriteDpfPayload(gpfBytes, bmp);
    const QString gpf = Path(QStringLiteral("town.gpf"));
    WriteFileBytes(gpf, gpfBytes);

    const auto readerSays = [](const QString& path, ProjectionKind kind) {
        UiMessage error;
        const QByteArray bytes = ReadFileBytes(path);
        EXPECT_FALSE(kind == ProjectionKind::Cpf ? ParseCpfProjection(bytes, error) : ParseDpfProjection(bytes, error));
        return error.m_strText;
    };
    const struct {
        const char* name;
        QString file;
        int entry;
        int openedKind; ///< map kind after opening; 0: refused
        QString message; ///< the refusal's text, or the start of it
    } cases[] = {
        {"workspace as workspace", pws, kPwsEntry, kJpgEntry, {}},
        {"workspace as CPF", pws, kCpfEntry, 0, readerSays(pws, ProjectionKind::Cpf)},
        {"workspace as DPF", pws, kDpfEntry, 0, readerSays(pws, ProjectionKind::Dpf)},
        {"CPF as CPF", cpf, kCpfEntry, 2, {}},
        {"CPF as workspace", cpf, kPwsEntry, 0, cpf + QStringLiteral("\nThis is not a work space file")},
        {"CPF as DPF", cpf, kDpfEntry, 0, readerSays(cpf, ProjectionKind::Dpf)},
        {"DPF as DPF", dpf, kDpfEntry, 2, {}},
        {"DPF as workspace", dpf, kPwsEntry, 0, dpf + QStringLiteral("\nThis is not a work space file")},
        {"GPF as GPF", gpf, kGpfEntry, 2, {}},
        {"workspace as GPF", pws, kGpfEntry, 0, readerSays(pws, ProjectionKind::Dpf)},
    };
    for (const auto& c : cases) {
        OtherRun run;
        m_Ui.Forget();
        LoadMap(run.m_Doc, TestDataPath(QStringLiteral("pictures/jpg/hopper.jpg")), kJpgEntry);
        SetPointsAndModel(run.m_Doc, {{7, 8, 0.5, 0.5}}, false, {});
        const Snapshot before = Take(run.m_Doc, run.m_ViewState, run.m_View);
        m_Ui.AnswerFile(c.file, c.entry);
        run.Open();
        if (c.openedKind) {
            EXPECT_TRUE(m_Ui.m_Messages.empty()) << c.name;
            EXPECT_EQ(int(run.m_Doc.MapType()), c.openedKind) << c.name;
            EXPECT_EQ(run.m_Doc.WorkspacePath(), c.file) << c.name;
            EXPECT_EQ(run.m_Doc.GetTitle(), c.file) << c.name;
        } else {
            ASSERT_EQ(m_Ui.m_Messages.size(), 1u) << c.name;
            EXPECT_TRUE(m_Ui.m_Messages[0].m_strText.startsWith(c.message))
                << c.name << ": " << m_Ui.m_Messages[0].m_strText.toStdString();
            EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid File")) << c.name;
            EXPECT_TRUE(Take(run.m_Doc, run.m_ViewState, run.m_View) == before) << c.name;
        }
    }
}

TEST_F(WorkspaceCommandTest, AllFilesEntryGoesByTheContent)
{
    LoadWorkedMap();
    const QString pws = Path(QStringLiteral("work.pws"));
    SaveAs(pws);
    const QString workspaceAsData = Path(QStringLiteral("work.data"));
    QFile::copy(pws, workspaceAsData);
    const QString text = Path(QStringLiteral("notes.txt"));
    WriteFileBytes(text, QByteArray("nothing Varnel reads"));
    const struct {
        QString file;
        int mapType; ///< 0: refused
    } cases[] = {
        {workspaceAsData, kJpgEntry},
        {Path(QStringLiteral("photo.jpg")), kJpgEntry},
        {text, 0},
        {Path(QStringLiteral("missing.txt")), 0},
    };
    for (const auto& c : cases) {
        OtherRun run;
        LoadPictureMap(run.m_Doc, 30, 20);
        const Snapshot before = Take(run.m_Doc, run.m_ViewState, run.m_View);
        m_Ui.Forget();
        m_Ui.AnswerFile(c.file, kAllEntry);
        run.Open();
        if (c.mapType) {
            EXPECT_TRUE(m_Ui.m_Messages.empty()) << c.file.toStdString();
            EXPECT_EQ(int(run.m_Doc.MapType()), c.mapType) << c.file.toStdString();
            EXPECT_EQ(run.m_Doc.GetTitle(), c.file);
        } else {
            ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
            EXPECT_EQ(m_Ui.m_Messages[0].m_strText, QStringLiteral("Invalid File. Maybe for another application."));
            EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid File."));
            EXPECT_EQ(m_Ui.m_Messages[0].Icon(), MB_ICONSTOP);
            EXPECT_TRUE(Take(run.m_Doc, run.m_ViewState, run.m_View) == before) << c.file.toStdString();
        }
    }
}
TEST_F(WorkspaceCommandTest, RefusedWorkspacesLeaveDocumentTitleAndPointsUntouched)
{
    // Sound workspaces of each kind to damage.
    LoadWorkedMap();
    WorkspaceContents small = CaptureWorkspace(m_Doc, &m_ViewState);
    small.m_PictureBytes = QByteArray("tiny picture"); // a short file, so every cut can be tried
    const QByteArray picture = EncodeWorkspace(small);
    ASSERT_EQ(picture.size(), 152 + 12 + 4 + 7 * 32);
    const QByteArray tiff = TiffWorkspace(QStringLiteral("/maps/sheet.tif"), 0, {{1, 2, 3, 4}});
    ASSERT_EQ(tiff.size(), 257 + 16 + 4 + 32);

    struct Case {
        std::string name;
        QByteArray bytes;
        bool makeFile = true;
    };
    std::vector<Case> cases = {
        {"missing file", {}, false},
        {"empty file", QByteArray()},
        {"wrong tag", QByteArray("PWS ") + picture.mid(4)},
        {"projection file tag", QByteArray(" FPC") + picture.mid(4)},
    };
    for (qsizetype length = 1; length < picture.size(); ++length)
        cases.push_back({"picture cut at " + std::to_string(length), picture.left(length)});
    for (qsizetype length = 1; length < tiff.size(); ++length)
        cases.push_back({"TIFF workspace cut at " + std::to_string(length), tiff.left(length)});
    const auto patched = [](QByteArray file, qsizetype offset, std::int32_t value) {
        qToLittleEndian<qint32>(value, file.data() + offset);
        return file;
    };
    cases.push_back({"picture bytes one more", patched(picture, 148, 13)});
    cases.push_back({"picture bytes beyond the file", patched(picture, 148, 12 + 4 + 7 * 32 + 1)});
    cases.push_back({"picture bytes one fewer", patched(picture, 148, 11)});
    cases.push_back({"bytes after the last point", picture + QByteArray(32, '\0')});
    cases.push_back({"picture bytes negative", patched(picture, 148, -12)});
    cases.push_back({"points beyond the file", patched(picture, 164, 8)});
    cases.push_back({"points negative", patched(picture, 164, -1)});
    cases.push_back({"path beyond the file", patched(tiff, 253, 16 + 4 + 32 + 1)});
    cases.push_back({"image count negative", patched(tiff, 249, -3)});
    cases.push_back({"TIFF points beyond the file", patched(tiff, 273, 2)});
    for (const QString& map : {Path(QStringLiteral("removed.tif")), Path(QStringLiteral("photo.jpg"))})
        cases.push_back({"its TIFF map unreadable: " + map.toStdString(), TiffWorkspace(map, 1, {{1, 2, 3, 4}}, 1, 9)});

    // The document as the user has it: a map, unsaved points and a zoomed view.
    AddPoint(m_Doc, {9, 9, 0.25, 0.75});
    m_ViewState.SetWindow({0.25, m_ViewState.Window().m_dBottom, 0.5, m_ViewState.Window().m_dTop});
    const Snapshot before = Take(m_Doc, m_ViewState, m_View);
    const QString path = Path(QStringLiteral("damaged.pws"));
    for (const Case& c : cases) {
        QFile::remove(path);
        if (c.makeFile)
            WriteFileBytes(path, c.bytes);
        m_Ui.Forget();
        m_Ui.AnswerFile(path, kPwsEntry);
        Open();
        ASSERT_EQ(m_Ui.m_Messages.size(), 1u) << c.name;
        EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid File")) << c.name;
        EXPECT_EQ(m_Ui.m_Messages[0].Buttons(), MB_OK) << c.name;
        EXPECT_EQ(m_Ui.m_Messages[0].Icon(), MB_ICONSTOP) << c.name;
        EXPECT_TRUE(m_Ui.m_Messages[0].m_strText.contains(path)) << c.name;
        EXPECT_TRUE(Take(m_Doc, m_ViewState, m_View) == before) << c.name;
    }
}

TEST_F(WorkspaceCommandTest, TiffWorkspaceDecodesTheFirstListedDirectoriesAgain)
{
    // Directory 1 has no pixels, so the scan lists directories 0, 2 and 3; a workspace of the
    // map's first two images must bring back directories 0 and 2.
    TiffBytes bytes;
    bytes.AddGreyDirectory(3, 2, 2, {QByteArray("\x10\x20\x30\x40\x50\x60", 6)});
    bytes.AddGreyDirectory(0, 4, 4, {QByteArray(1, '\0')});
    bytes.AddGreyDirectory(5, 1, 1, {QByteArray(5, '\x7f')});
    bytes.AddGreyDirectory(6, 1, 1, {QByteArray(6, '\x33')});
    const QString tiffPath = Path(QStringLiteral("sheet.tif"));
    WriteFileBytes(tiffPath, bytes.Build());
    LoadMap(m_Doc, tiffPath, kTifEntry);
    ASSERT_EQ(m_Doc.Images().size(), 3u);
    WorkspaceContents contents = CaptureWorkspace(m_Doc, &m_ViewState);
    contents.m_ControlPoints = SevenPoints();
    contents.m_Tiff->m_nImageCount = 2;
    contents.m_Tiff->m_dWinLeft = 0.25;
    contents.m_Tiff->m_dWinRight = 0.75;
    contents.m_Tiff->m_dWinBottom = 0.125;
    contents.m_Tiff->m_dWinTop = 0.625;
    const QString path = Path(QStringLiteral("sheet.pws"));
    WriteFileBytes(path, EncodeWorkspace(contents));

    OtherRun later;
    LoadMap(later.m_Doc, TestDataPath(QStringLiteral("pictures/jpg/hopper.jpg")), kJpgEntry);
    m_Ui.AnswerFile(path, kPwsEntry);
    later.Open();
    const CQuilletDoc& doc = later.m_Doc;
    ASSERT_EQ(doc.Images().size(), 2u);
    EXPECT_EQ(doc.Images()[0].m_nWidth, 3);
    EXPECT_EQ(doc.Images()[1].m_nWidth, 5);
    EXPECT_EQ(doc.MapPath(), tiffPath);
    EXPECT_EQ(int(doc.MapType()), kTifEntry);
    EXPECT_EQ(doc.ControlPoints(), SevenPoints());
    EXPECT_EQ(doc.ImageWidth(), 3); // image 0's
    EXPECT_EQ(doc.CurrentImage(), 0);
    EXPECT_FALSE(doc.HasGeoTiffFrame());
    EXPECT_EQ(doc.GeoExtent(), (CDataGeo{1, 1, 0, 0}));
    EXPECT_TRUE(doc.MapFileData().isEmpty());
    EXPECT_EQ(doc.Picture().m_pPicture, nullptr); // the previous map's picture is gone
    EXPECT_TRUE(doc.IsMapLoaded());
    EXPECT_EQ(doc.GetTitle(), path);
    const ViewState& view = later.m_ViewState;
    EXPECT_EQ(view.Window().m_dLeft, 0.25);
    EXPECT_EQ(view.Window().m_dRight, 0.75);
    EXPECT_EQ(view.Window().m_dBottom, 0.125);
    EXPECT_EQ(view.Window().m_dTop, 0.625);
    EXPECT_EQ(m_Ui.m_nWaitCursorDepth, 0);
    for (const auto& message : m_Ui.m_Messages) // only libtiff's complaints about directory 1
        EXPECT_TRUE(message.m_strCaption.startsWith(QStringLiteral("TIFF"))) << message.m_strText.toStdString();
}
TEST_F(WorkspaceCommandTest, TiffWorkspaceGeoCodedByPointsStaysGeoCoded)
{
    // A plain TIFF geo-coded from control points: its model is what the workspace keeps.
    GeoCoefficients model{};
    model[1] = 128.0;
    model[4] = -128.0;
    model[3] = 9600.0;
    model[7] = 5248.0;
    WorkspaceContents contents;
    contents.m_nGeoCoded = 1;
    contents.m_nMapType = 9;
    contents.m_nImageWidth = 128;
    contents.m_nImageHeight = 128;
    contents.m_dGeoCoef = model;
    WorkspaceTiffPart tiff;
    tiff.m_nImageCount = 1;
    tiff.m_PathBytes = TestDataPath(QStringLiteral("tiff/hopper.tif")).toUtf8() + QByteArray(1, '\0');
    contents.m_Tiff = tiff;
    contents.m_ControlPoints = SevenPoints();
    const QString path = Path(QStringLiteral("plain.pws"));
    WriteFileBytes(path, EncodeWorkspace(contents));

    m_Ui.AnswerFile(path, kPwsEntry);
    Open();
    EXPECT_TRUE(m_Ui.m_Messages.empty());
    EXPECT_TRUE(m_Doc.IsGeoCoded());
    EXPECT_EQ(m_Doc.GeoCoef(), model);
    EXPECT_FALSE(m_Doc.HasGeoTiffFrame());
    ASSERT_EQ(m_Doc.Images().size(), 1u);
}
TEST_F(WorkspaceCommandTest, SaveAfterOpeningAProjectionFileAsksForAWorkspaceName)
{
    const QByteArray bmp = ReadFileBytes(TestDataPath(QStringLiteral("pictures/bmp/rgb24.bmp")));
    std::array<double, 16> model{};
    model[1] = 200.0;
    model[4] = -150.0;
    QByteArray cpf;
    WriteCpfProjection(cpf, 127, 64, model, bmp);
    QByteArray dpf;
    WriteDpfHeader(dpf, kDpfTag, model);
    WriteDpfPayload(dpf, bmp);
    const struct {
        const char* name;
        QByteArray bytes;
        int entry;
    } cases[] = {{"town.cpf", cpf, kCpfEntry}, {"town.dpf", dpf, kDpfEntry}};

    LoadWorkedMap();
    const QString earlier = Path(QStringLiteral("earlier.pws"));
    SaveAs(earlier); // a name has been chosen in this run
    for (const auto& c : cases) {
        const QString projection = Path(QString::fromLatin1(c.name));
        WriteFileBytes(projection, c.bytes);
        m_Ui.Forget();
        m_Ui.AnswerFile(projection, c.entry);
        Open();
        ASSERT_EQ(m_Doc.WorkspacePath(), projection) << c.name;
        ASSERT_FALSE(m_Doc.IsWorkspaceNamed()) << c.name;

        // Save and Save As with Cancel write nothing over the projection file.
        m_Ui.CancelFile();
        Save();
        m_Ui.CancelFile();
        SaveAs();
        ASSERT_EQ(m_Ui.m_FileDialogs.size(), 3u) << c.name;
        EXPECT_TRUE(m_Ui.m_FileDialogs[1].m_bSave) << c.name;
        EXPECT_EQ(m_Ui.m_FileDialogs[1].m_strTitle, QStringLiteral("Save Work Space")) << c.name;
        EXPECT_EQ(ReadFileBytes(projection), c.bytes) << c.name;

        // A name chosen now is written, and from then on Save writes without asking.
        const QString named = Path(QStringLiteral("from-%1.pws").arg(c.entry));
        m_Ui.AnswerFile(named, 1);
        Save();
        EXPECT_EQ(m_Doc.WorkspacePath(), named) << c.name;
        EXPECT_EQ(QFileInfo(named).size(), 148 + 4 + bmp.size() + 4) << c.name;
        Save();
        EXPECT_EQ(m_Ui.m_FileDialogs.size(), 4u) << c.name;
        EXPECT_EQ(ReadFileBytes(projection), c.bytes) << c.name;
        EXPECT_TRUE(m_Ui.m_Messages.empty()) << c.name;
    }

    // An opened workspace is saved over without asking, as a name had been chosen before.
    m_Ui.Forget();
    m_Ui.AnswerFile(earlier, kPwsEntry);
    Open();
    DropLastPoint(m_Doc);
    Save();
    EXPECT_EQ(m_Ui.m_FileDialogs.size(), 1u);
    EXPECT_EQ(QFileInfo(earlier).size(), 12725 - 32);
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("earlier.pws"), QStringLiteral("from-2.pws"),
                                    QStringLiteral("from-3.pws"), QStringLiteral("photo.jpg"),
                                    QStringLiteral("town.cpf"), QStringLiteral("town.dpf")}));
}

TEST_F(WorkspaceCommandTest, LoadWorkspaceFileInstallsOrRefusesWithoutShowingAnything)
{
    LoadWorkedMap();
    const QString path = Path(QStringLiteral("work.pws"));
    SaveAs(path);
    m_Ui.Forget();

    OtherRun later;
    const CommandResult opened = LoadWorkspaceFile(later.m_Doc, &later.m_ViewState, path);
    ASSERT_TRUE(opened.m_bDone);
    EXPECT_TRUE(opened.m_Messages.empty());
    EXPECT_EQ(later.m_Doc.ControlPoints(), SevenPoints());
    EXPECT_EQ(later.m_Doc.WorkspacePath(), path);
    EXPECT_EQ(later.m_Doc.GetTitle(), path);
    EXPECT_TRUE(later.m_Doc.IsMapLoaded());

    WriteFileBytes(Path(QStringLiteral("short.pws")), ReadFileBytes(path).left(200));
    const Snapshot before = Take(later.m_Doc, later.m_ViewState, later.m_View);
    const CommandResult refused = LoadWorkspaceFile(later.m_Doc, &later.m_ViewState, Path(QStringLiteral("short.pws")));
    EXPECT_FALSE(refused.m_bDone);
    ASSERT_EQ(refused.m_Messages.size(), 1u);
    EXPECT_TRUE(refused.m_Messages[0].m_strText.contains(QStringLiteral("cut short")));
    EXPECT_FALSE(LoadWorkspaceFile(later.m_Doc, nullptr, Path(QStringLiteral("none.pws"))).m_bDone);
    EXPECT_TRUE(Take(later.m_Doc, later.m_ViewState, later.m_View) == before);
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}
TEST_F(WorkspaceCommandTest, ChosenGeoCodingIsFittedUndoneAndKeptBesideTheWorkspace)
{
    // A picture of the conterminous USA in Albers (EPSG:5070), 4480 km across, with 20 control
    // points typed in WGS 84 as PROJ places their pixels.
    LoadMap(m_Doc, PaddedJpeg(), kJpgEntry);
    const double w = m_Doc.ImageWidth(), h = m_Doc.ImageHeight(), pixel = 4.48e6 / w;
    PJ_CONTEXT* context = proj_context_create();
    PJ* raw = proj_create_crs_to_crs(context, "EPSG:5070", "EPSG:4326", nullptr);
    PJ* toLonLat = proj_normalize_for_visualization(context, raw);
    proj_destroy(raw);
    const auto truth = [&](double column, double row) {
        const PJ_COORD g = proj_trans(toLonLat, PJ_FWD, proj_coord(-2.4e6 + pixel * column, 3.2e6 - pixel * row, 0, 0));
        return GeoPosition{g.lp.phi, g.lp.lam};
    };
    std::vector<CDataGeo> points;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j) {
            const double column = w * (0.06 + 0.22 * i + 0.01 * j), row = h * (0.06 + 0.27 * j + 0.01 * i);
            const GeoPosition p = truth(column, row);
            points.push_back({p.m_dLatitude * 3600, p.m_dLongitude * 3600, column / w, 1 - row / h});
        }
    const std::array<double, 2> probe{0.52 * w, 0.46 * h};
    const auto metresFromTruth = [&](const CQuilletDoc& doc) {
        const GeoPosition at = doc.PositionOfPixel(probe[0], probe[1]).value();
        return GreatCircleDistance(at.m_dLatitude, at.m_dLongitude, truth(probe[0], probe[1]).m_dLatitude,
                                   truth(probe[0], probe[1]).m_dLongitude);
    };

    // Affinely in latitude and longitude the continent does not fit.
    EXPECT_EQ(m_Doc.EditPoints(QStringLiteral("Add Points"), points).m_Outcome, GeoFitOutcome::Rejected);
    const PointsAndModel affine = m_Doc.CapturePoints();

    // Affinely in its own projection it fits exactly, by the same rule and message.
    GeoCodingChoice albers{TransformKind::Affine, *FitCrs::Parse(QStringLiteral("EPSG:5070"))};
    const GeoFitResult fit = m_Doc.EditChoice(QStringLiteral("Transformation"), albers);
    ASSERT_EQ(fit.m_Outcome, GeoFitOutcome::Accepted) << fit.m_strReport.toStdString();
    EXPECT_TRUE(fit.m_Message->m_strText.startsWith(QStringLiteral("The map is successfully geo coded. The accuracy is 0.0")));
    EXPECT_TRUE(m_Doc.IsGeoCoded());
    EXPECT_LT(metresFromTruth(m_Doc), 1.0);
    // The coefficients keep the closest affine relation over the picture: the continent's centre
    // reads out within the affine error, not exactly.
    const GeoPosition centre = GeoModel(m_Doc.GeoCoef()).Inverse(w / 2, h / 2).value();
    const double off = GreatCircleDistance(centre.m_dLatitude, centre.m_dLongitude, truth(w / 2, h / 2).m_dLatitude,
                                           truth(w / 2, h / 2).m_dLongitude);
    EXPECT_GT(off, 1.0);
    EXPECT_LT(off, 2e5);

    // A spline passes through its points; too few points for a cubic say how many it needs.
    EXPECT_EQ(m_Doc.EditChoice(QStringLiteral("Transformation"), {TransformKind::Tps, albers.m_FitCrs}).m_Outcome,
              GeoFitOutcome::Accepted);
    const std::vector<CDataGeo> nine(points.begin(), points.begin() + 9);
    const GeoFitResult few = ComputeGeoFit({TransformKind::Poly3, FitCrs()}, nine, 128, 128, {}, 1);
    EXPECT_EQ(few.m_Outcome, GeoFitOutcome::TooFewPoints);
    EXPECT_TRUE(few.m_strRefusal.contains(QStringLiteral("10"))) << few.m_strRefusal.toStdString();

    // Undo goes back choice by choice to the affine fit in latitude and longitude.
    m_Doc.UndoStack().undo();
    EXPECT_EQ(m_Doc.Choice(), albers);
    EXPECT_LT(metresFromTruth(m_Doc), 1.0);
    m_Doc.UndoStack().undo();
    EXPECT_EQ(m_Doc.CapturePoints().m_Choice, affine.m_Choice);
    EXPECT_FALSE(m_Doc.IsGeoCoded());
    m_Doc.UndoStack().redo();

    // Exported, a world file holds the Albers georeference exactly; a GeoTIFF is written rectified
    // into Albers. A spline has no world file.
    ExportReport report;
    ASSERT_TRUE(ExportGeoreferenced(m_Doc, std::nullopt, ExportKind::WorldFile, Path("usa.jgw"), &report).m_bDone);
    const std::array<double, 6> albersGt{-2.4e6, pixel, 0, 3.2e6, 0, -pixel};
    for (int k = 0; k < 6; ++k)
        EXPECT_NEAR(report.m_GeoTransform[k], albersGt[k], 1e-6 * pixel) << k;
    EXPECT_TRUE(ReadFileBytes(Path("usa.prj")).contains("Albers"));
    ASSERT_TRUE(ExportGeoreferenced(m_Doc, std::nullopt, ExportKind::GeoTiff, Path("usa.tif"), &report).m_bDone);
    EXPECT_EQ(report.m_Crs.Name(), QStringLiteral("EPSG:5070"));
    EXPECT_NEAR(report.m_GeoTransform[0], -2.4e6, pixel);
    // Output A Geo-Map writes the map rectified to latitude and longitude: its coefficients put the
    // map's outline on the edges of the written picture.
    ASSERT_TRUE(WriteProjectionOutput(m_Doc, std::nullopt, OutputFlavour::Cpf, Path("usa.cpf")).m_bDone);
    UiMessage refusal;
    const std::optional<ProjectionContents> cpf = ParseCpfProjection(ReadFileBytes(Path("usa.cpf")), refusal);
    ASSERT_TRUE(cpf);
    double minColumn = 1e9, maxColumn = -1e9, minRow = 1e9, maxRow = -1e9;
    for (int k = 0; k <= 64; ++k)
        for (const auto& [c, r] : {std::pair{w * k / 64, 0.0}, {w * k / 64, h}, {0.0, h * k / 64}, {w, h * k / 64}}) {
            const QPointF at = GeoModel(cpf->m_dGeoCoef).Forward(truth(c, r).m_dLatitude, truth(c, r).m_dLongitude);
            minColumn = std::min(minColumn, at.x()), maxColumn = std::max(maxColumn, at.x());
            minRow = std::min(minRow, at.y()), maxRow = std::max(maxRow, at.y());
        }
    EXPECT_NEAR(minColumn, 0, 1.5);
    EXPECT_NEAR(maxColumn, cpf->m_nWidth, 1.5);
    EXPECT_NEAR(minRow, 0, 1.5);
    EXPECT_NEAR(maxRow, cpf->m_nHeight, 1.5);
    m_Doc.EditChoice(QStringLiteral("Transformation"), {TransformKind::Tps, albers.m_FitCrs});
    const CommandResult noWorld = ExportGeoreferenced(m_Doc, std::nullopt, ExportKind::WorldFile, Path("tps.jgw"));
    ASSERT_FALSE(noWorld.m_bDone);
    EXPECT_TRUE(noWorld.m_Messages.back().m_strText.contains(QStringLiteral("the tps transformation")));
    m_Doc.UndoStack().undo();

    // Saved, the workspace is written as always and the choice and reference maps beside it;
    // opened again, the map reads out as it did and the work is saved, a reference gone or not.
    const QString path = Path(QStringLiteral("usa.pws"));
    const QStringList references{Path(QStringLiteral("usa.geojson")), QStringLiteral("/gone/roads.gpkg")};
    m_Doc.SetReferences(references);
    SaveAs(path);
    EXPECT_EQ(ReadFileBytes(path + QStringLiteral(".geocoding")),
              QByteArray("# Varnel geo-coding of usa.pws\ntransform=affine\nfit_crs=EPSG:5070\n"
                         "reference=usa.geojson\nreference=/gone/roads.gpkg\n"));
    OtherRun later;
    m_Ui.AnswerFile(path, kPwsEntry);
    later.Open();
    EXPECT_EQ(later.m_Doc.Choice(), albers);
    EXPECT_EQ(later.m_Doc.References(), references);
    EXPECT_FALSE(later.m_Doc.IsModified());
    EXPECT_LT(metresFromTruth(later.m_Doc), 1.0);

    // Back to the default, saving removes the side file once no reference is left; an unreadable
    // one refuses the workspace.
    later.m_Doc.EditChoice(QStringLiteral("Transformation"), {});
    m_Ui.AnswerFile(path, 1);
    later.SaveAs();
    EXPECT_TRUE(QFileInfo::exists(path + QStringLiteral(".geocoding")));
    later.m_Doc.SetReferences({});
    m_Ui.AnswerFile(path, 1);
    later.SaveAs();
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral(".geocoding")));
    WriteFileBytes(path + QStringLiteral(".geocoding"), "transform=cubic\n");
    m_Ui.Forget();
    OtherRun refused;
    m_Ui.AnswerFile(path, kPwsEntry);
    refused.Open();
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_TRUE(m_Ui.m_Messages[0].m_strText.contains(QStringLiteral("names no transformation Varnel knows: \"cubic\"")));
    EXPECT_FALSE(refused.m_Doc.IsMapLoaded());
    proj_destroy(toLonLat);
    proj_context_destroy(context);
}
