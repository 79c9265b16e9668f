#include "document/CQuilletDoc.h"
#include "commands/OutputCommand.h"
#include "formats/ProjectionFile.h"
#include "ScriptedUiServices.h"
#include "platform/BinaryIO.h"
#include "platform/MemoryBudget.h"
#include "platform/TemporarySideFile.h"
#include "view/core/ViewState.h"

#include "TestDocs.h"
#include "ViewStateProbe.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

/// Coefficients with a distinct value in every slot, the unused ones included.
GeoCoefficients MarkedCoefficients()
{
    GeoCoefficients c{};
    for (size_t i = 0; i < c.size(); ++i)
        c[i] = 1000.0 + 17.25 * double(i) + 1.0 / 3.0;
    c[0] = -12.5; // columns per degree of latitude
    c[1] = 350.0; // columns per degree of longitude
    c[4] = -410.0;
    c[5] = 3.5;
    return c;
}

/// A picture whose every pixel tells where it is: red and blue carry the column, green the row.
QImage PositionPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x / 256) * 128));
    return image;
}

int ColumnOf(QRgb pixel)
{
    return qRed(pixel) + (qBlue(pixel) >= 64 ? 256 : 0);
}

/// The picture file bytes Qt's own writer makes (independent of the code under test).
QByteArray Encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format));
    return bytes;
}

std::int32_t I32At(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<qint32>(bytes.constData() + at);
}

/// The sixteen doubles stored from offset at.
GeoCoefficients CoefficientsAt(const QByteArray& file, qsizetype at)
{
    GeoCoefficients c{};
    EXPECT_GE(file.size(), at + 128);
    if (file.size() >= at + 128)
        std::memcpy(c.data(), file.constData() + at, 128);
    return c;
}

/// The BMP payload of a GPF or DPF, decompressed.
QByteArray DpfPayload(const QByteArray& file)
{
    UiMessage error;
    const std::optional<ProjectionContents> contents = ParseDpfProjection(file, error);
    EXPECT_TRUE(contents.has_value()) << error.m_strText.toStdString();
    return contents ? contents->m_Payload : QByteArray();
}

QByteArray CpfPayload(const QByteArray& file)
{
    const qsizetype length = file.size() >= 144 ? qFromLittleEndian<quint32>(file.constData() + 140) : 0;
    EXPECT_EQ(file.size(), 144 + length);
    return file.mid(144);
}

class OutputTest : public ::testing::Test {
protected:
    OutputTest() { m_Dir.setAutoRemove(true); }

    /// Makes the document hold a geo-coded picture map loaded from the given picture-file bytes.
    void LoadPictureMap(const QByteArray& file, int width, int height)
    {
        CPicture picture;
        picture.LoadFromMemory(file);
        ASSERT_NE(picture.m_pPicture, nullptr);
        picture.m_nWidth = width;
        picture.m_nHeight = height;
        m_Doc.InstallPictureMap(QStringLiteral("/maps/picture.bmp"), MapKind::Bmp, std::move(picture), file);
        SetGeoCoded(true);
    }

    /// Makes the document hold a TIFF map of one 24-bit image of the given size, its frame in
    /// degrees from south-west corner origin with spans extent when they are given.
    void LoadTiffMap(int width, int height, std::optional<CDataGeo> origin = {}, CDataGeo extent = {})
    {
        DIBSection image;
        image.Create(24, width, height);
        ASSERT_NE(image.m_pBits, nullptr);
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width * 3; ++c)
                image.StoredRow(r)[c] = static_cast<std::uint8_t>((r * 31 + c * 7) & 0xFF);
        std::optional<GeoTiffInfo> georeference;
        if (origin) {
            // A georeference in degrees (scales of 0.01 or less) is the frame as it stands.
            GeoTiffInfo& info = georeference.emplace();
            info.m_dTieX = origin->m_dLongitude;
            info.m_dTieY = origin->m_dLatitude + extent.m_dLatitude;
            info.m_dScaleX = extent.m_dLongitude / width;
            info.m_dScaleY = extent.m_dLatitude / height;
        }
        std::vector<DIBSection> images;
        images.push_back(std::move(image));
        m_Doc.InstallTiffMap(QStringLiteral("/maps/scan.tif"), MapKind::Tif, std::move(images), georeference);
        ASSERT_EQ(m_Doc.HasGeoTiffFrame(), origin.has_value());
        SetGeoCoded(true);
    }

    void SetGeoCoded(bool geoCoded) { SetPointsAndModel(m_Doc, {}, geoCoded, MarkedCoefficients()); }
    bool Output(const QString& path) { return OutputProjectionFile(m_Doc, &m_View, path); }

    void SelectRange(double left, double right, double top, double bottom)
    {
        ViewStateProbe::ActiveTool(m_View) = Tool::SelectRange;
        ViewStateProbe::RangeStart(m_View) = QPoint(10, 10);
        ViewStateProbe::RangeEnd(m_View) = QPoint(60, 40);
        ViewStateProbe::SetRangeFractions(m_View, left, right, top, bottom);
    }

    QString Path(const QString& name) const { return m_Dir.filePath(name); }
    QStringList Files() const { return QDir(m_Dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name); }

    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    ViewState m_View;
    CQuilletDoc m_Doc;
    QTemporaryDir m_Dir;
};

} // namespace

// --- the range cut-out ---------------------------------------------------------------------------

TEST_F(OutputTest, RangeOfAQuarterToThreeQuartersCutsOutTwoHundredByOneHundred)
{
    const QImage source = PositionPicture(401, 201);
    LoadPictureMap(Encoded(source, "BMP"), 401, 201);
    const QByteArray mapFile = m_Doc.MapFileData();
    SelectRange(0.25, 0.75, 0.25, 0.75);
    m_Doc.SetOutputFormat(OutputFlavour::Gpf);

    ASSERT_TRUE(Output(Path("town.gpf")));
    EXPECT_TRUE(m_Ui.m_Messages.empty());
    const QByteArray file = ReadFileBytes(Path("town.gpf"));
    const QByteArray bmp = DpfPayload(file);
    ASSERT_GE(bmp.size(), 26);
    EXPECT_EQ(bmp.left(2), QByteArray("BM"));
    EXPECT_EQ(I32At(bmp, 18), 200);
    EXPECT_EQ(I32At(bmp, 22), 100);

    // The offsets move by (W - 1) x left = 100 and (H - 1) x top = 50; nothing else changes.
    const GeoCoefficients original = MarkedCoefficients();
    const GeoCoefficients written = CoefficientsAt(file, 13);
    for (size_t i = 0; i < 16; ++i) {
        const double expected = i == 3 ? original[3] - 100.0 : i == 7 ? original[7] - 50.0 : original[i];
        EXPECT_DOUBLE_EQ(written[i], expected) << "c" << i;
    }

    // The cut-out shows the middle of the map, upright: pixel (i, j) is map pixel (100 + i, 50 + j)
    // give or take the one pixel a stretch by 200.5 / 200 may shift.
    const QImage cut = QImage::fromData(bmp, "BMP");
    ASSERT_EQ(cut.size(), QSize(200, 100));
    for (const QPoint p : {QPoint(0, 0), QPoint(199, 0), QPoint(0, 99), QPoint(199, 99), QPoint(120, 37)}) {
        const QRgb pixel = cut.pixel(p);
        EXPECT_NEAR(ColumnOf(pixel), 100 + p.x(), 1) << p.x() << "," << p.y();
        EXPECT_NEAR(qGreen(pixel), 50 + p.y(), 1) << p.x() << "," << p.y();
    }

    // The document keeps the whole picture and its own coefficients.
    EXPECT_EQ(m_Doc.GeoCoef(), original);
    EXPECT_EQ(m_Doc.MapFileData(), mapFile);
    EXPECT_EQ(m_Doc.Picture().m_nWidth, 401);
    EXPECT_EQ(m_Doc.ImageWidth(), 401);
    EXPECT_EQ(Files(), QStringList{QStringLiteral("town.gpf")});
}

TEST_F(OutputTest, RangeInACpfRecordsTheCutOutSizeAndCarriesItsBitmap)
{
    LoadPictureMap(Encoded(PositionPicture(401, 201), "JPG"), 401, 201);
    SelectRange(0.25, 0.75, 0.25, 0.75);
    m_Doc.SetOutputFormat(OutputFlavour::Cpf);

    ASSERT_TRUE(Output(Path("town.cpf")));
    const QByteArray file = ReadFileBytes(Path("town.cpf"));
    EXPECT_EQ(file.left(4), QByteArray(" FPC"));
    EXPECT_EQ(I32At(file, 4), 200);
    EXPECT_EQ(I32At(file, 8), 100);
    const GeoCoefficients written = CoefficientsAt(file, 12);
    EXPECT_DOUBLE_EQ(written[3], MarkedCoefficients()[3] - 100.0);
    EXPECT_DOUBLE_EQ(written[7], MarkedCoefficients()[7] - 50.0);
    const QByteArray payload = CpfPayload(file);
    EXPECT_EQ(payload.left(2), QByteArray("BM")); // the cut-out, not the JPEG
    EXPECT_EQ(QImage::fromData(payload, "BMP").size(), QSize(200, 100));
}

TEST_F(OutputTest, RangeOffsetsFollowLeftAndTopOnly)
{
    struct Case {
        double left, right, top, bottom;
        int w, h;
    };
    // W = 401, H = 201: steps of 400 and 200 pixels.
    const Case cases[] = {
        {0.0, 1.0, 0.0, 1.0, 400, 200},
        {0.5, 1.0, 0.0, 0.25, 200, 50},
        {0.1, 0.2, 0.75, 1.0, 40, 50},
        {0.0, 0.0026, 0.0, 0.006, 1, 1},
    };
    LoadPictureMap(Encoded(PositionPicture(401, 201), "BMP"), 401, 201);
    m_Doc.SetOutputFormat(OutputFlavour::Dpf);
    for (const Case& c : cases) {
        SelectRange(c.left, c.right, c.top, c.bottom);
        ASSERT_TRUE(Output(Path("part.dpf"))) << c.left << " " << c.right;
        const QByteArray file = ReadFileBytes(Path("part.dpf"));
        EXPECT_EQ(file.mid(4, 4), QByteArray(" FPD"));
        const QByteArray bmp = DpfPayload(file);
        EXPECT_EQ(I32At(bmp, 18), c.w) << c.left << " " << c.right;
        EXPECT_EQ(I32At(bmp, 22), c.h) << c.top << " " << c.bottom;
        const GeoCoefficients written = CoefficientsAt(file, 13);
        EXPECT_NEAR(written[3], MarkedCoefficients()[3] - 400.0 * c.left, 1e-9);
        EXPECT_NEAR(written[7], MarkedCoefficients()[7] - 200.0 * c.top, 1e-9);
        // The cut-out's top-left pixel is the map's pixel at the range's top-left corner.
        const QImage cut = QImage::fromData(bmp, "BMP");
        ASSERT_EQ(cut.size(), QSize(c.w, c.h));
        EXPECT_NEAR(ColumnOf(cut.pixel(0, 0)), 400.0 * c.left, 1.5) << c.left;
        EXPECT_NEAR(qGreen(cut.pixel(0, 0)), 200.0 * c.top, 1.5) << c.top;
        EXPECT_NEAR(qGreen(cut.pixel(0, c.h - 1)), 200.0 * c.bottom - 1, 1.5) << c.bottom;
    }
}

// --- refusals --------------------------------------------------------------------------------------

TEST_F(OutputTest, RangeToolWithoutADraggedRangeIsRefused)
{
    LoadPictureMap(Encoded(PositionPicture(40, 20), "BMP"), 40, 20);
    ViewStateProbe::ActiveTool(m_View) = Tool::SelectRange; // switched on, nothing dragged yet
    ASSERT_FALSE(m_View.HasRange());
    m_Doc.SetOutputFormat(OutputFlavour::Gpf);
    WriteFileBytes(Path("town.gpf"), "earlier output");

    EXPECT_FALSE(Output(Path("town.gpf")));
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid Range"));
    EXPECT_FALSE(m_Ui.m_Messages[0].m_strText.isEmpty());
    EXPECT_EQ(m_Ui.m_Messages[0].Icon(), MB_ICONINFORMATION);
    EXPECT_EQ(ReadFileBytes(Path("town.gpf")), QByteArray("earlier output"));
    EXPECT_EQ(Files(), QStringList{QStringLiteral("town.gpf")});
}

TEST_F(OutputTest, RangeUnderOnePixelIsRefused)
{
    struct Case {
        double left, right, top, bottom;
    };
    // W = 401, H = 201: under one step of 400 or 200 pixels in either direction.
    const Case cases[] = {
        {0.5, 0.5, 0.1, 0.9},
        {0.1, 0.9, 0.3, 0.3},
        {0.5, 0.5024, 0.1, 0.9},
        {0.1, 0.9, 0.3, 0.3049},
    };
    LoadPictureMap(Encoded(PositionPicture(401, 201), "BMP"), 401, 201);
    m_Doc.SetOutputFormat(OutputFlavour::Cpf);
    for (const Case& c : cases) {
        m_Ui.m_Messages.clear();
        SelectRange(c.left, c.right, c.top, c.bottom);
        EXPECT_FALSE(Output(Path("thin.cpf")));
        ASSERT_EQ(m_Ui.m_Messages.size(), 1u) << c.left << " " << c.right;
        EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid Range"));
        EXPECT_TRUE(Files().isEmpty()) << Files().join(' ').toStdString();
    }
}

TEST_F(OutputTest, NotGeoCodedShowsTheMessageAndLeavesNoFile)
{
    for (const char* name : {"fresh.dpf", "existing.dpf"}) {
        LoadPictureMap(Encoded(PositionPicture(40, 20), "BMP"), 40, 20);
        SetGeoCoded(false);
        m_Doc.SetOutputFormat(OutputFlavour::Dpf);
        m_Ui.m_Messages.clear();
        const bool existing = std::strcmp(name, "existing.dpf") == 0;
        if (existing)
            WriteFileBytes(Path(name), "the output of an earlier day");

        EXPECT_FALSE(Output(Path(name)));
        ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
        EXPECT_EQ(m_Ui.m_Messages[0].m_strText, QStringLiteral("Invalid projection. Need more points."));
        EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid Projection"));
        EXPECT_EQ(m_Ui.m_Messages[0].Buttons(), MB_OKCANCEL);
        EXPECT_EQ(m_Ui.m_Messages[0].Icon(), MB_ICONINFORMATION);
        if (existing)
            EXPECT_EQ(ReadFileBytes(Path(name)), QByteArray("the output of an earlier day"));
        else
            EXPECT_FALSE(QFileInfo::exists(Path(name)));
    }
    EXPECT_EQ(Files(), QStringList{QStringLiteral("existing.dpf")});
}

TEST_F(OutputTest, NotGeoCodedIsCheckedBeforeTheFolder)
{
    LoadPictureMap(Encoded(PositionPicture(40, 20), "BMP"), 40, 20);
    SetGeoCoded(false);
    m_Doc.SetOutputFormat(OutputFlavour::Gpf);
    EXPECT_FALSE(Output(Path("missing/town.gpf")));
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid Projection"));
}

TEST_F(OutputTest, FileThatCannotBeWrittenIsReportedAndLeavesNothing)
{
    struct Case {
        const char* name;
        bool tiff;
        bool range;
        int format;
        int cause; ///< the system's reason the message ends with
    };
    const Case cases[] = {
        {"missing/town.gpf", false, false, 1, ENOENT}, {"missing/town.cpf", false, true, 3, ENOENT},
        {"missing/town.dpf", true, false, 2, ENOENT},  {"folder.gpf", false, false, 1, EISDIR},
        {"folder.gpf", false, true, 1, EISDIR},        {"folder.gpf", true, true, 1, EISDIR},
        {"folder.gpf", true, false, 3, EISDIR},
    };
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir(QStringLiteral("folder.gpf"))); // a folder where the file should go
    for (const Case& c : cases) {
        if (c.tiff)
            LoadTiffMap(12, 8);
        else
            LoadPictureMap(Encoded(PositionPicture(40, 20), "BMP"), 40, 20);
        ViewStateProbe::ActiveTool(m_View) = Tool::None;
        if (c.range)
            SelectRange(0.0, 0.5, 0.0, 0.5);
        m_Doc.SetOutputFormat(static_cast<OutputFlavour>(c.format));
        m_Ui.m_Messages.clear();

        EXPECT_FALSE(Output(Path(QString::fromLatin1(c.name)))) << c.name;
        ASSERT_EQ(m_Ui.m_Messages.size(), 1u) << c.name;
        EXPECT_EQ(m_Ui.m_Messages[0].m_strText, QStringLiteral("The file can not be opened. (%1)")
                                                     .arg(QString::fromLocal8Bit(std::strerror(c.cause))))
            << c.name;
        EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid File"));
        EXPECT_EQ(m_Ui.m_Messages[0].Buttons(), MB_OKCANCEL);
        EXPECT_EQ(m_Ui.m_Messages[0].Icon(), MB_ICONERROR);
        EXPECT_EQ(Files(), QStringList{QStringLiteral("folder.gpf")}) << c.name;
        EXPECT_TRUE(QDir(Path("folder.gpf")).isEmpty());
    }
}

TEST_F(OutputTest, MapWithoutAPictureIsRefused)
{
    m_Doc.InstallTiffMap(QStringLiteral("/maps/empty.tif"), MapKind::Tif, {}); // no image to write
    SetGeoCoded(true);
    m_Doc.SetOutputFormat(OutputFlavour::Gpf);
    EXPECT_FALSE(Output(Path("town.gpf")));
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid File"));
    EXPECT_TRUE(Files().isEmpty());
}

// --- the temporary picture file ------------------------------------------------------------------

TEST_F(OutputTest, TemporaryBitmapIsGoneAfterEveryPath)
{
    struct Case {
        const char* what;
        bool tiff;
        bool range;
        bool dragged;
        bool geoCoded;
        const char* target;
        bool written;
    };
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir(QStringLiteral("blocked.gpf")));
    const Case cases[] = {
        {"picture, whole", false, false, true, true, "a.gpf", true},
        {"picture, range", false, true, true, true, "b.gpf", true},
        {"tiff, whole", true, false, true, true, "c.dpf", true},
        {"tiff, range", true, true, true, true, "d.cpf", true},
        {"not geo-coded", true, true, true, false, "e.gpf", false},
        {"write fails", true, true, true, true, "blocked.gpf", false},
        {"range refused", true, true, false, true, "f.gpf", false},
    };
    QStringList expected{QStringLiteral("blocked.gpf")};
    for (const Case& c : cases) {
        if (c.tiff)
            LoadTiffMap(30, 20);
        else
            LoadPictureMap(Encoded(PositionPicture(30, 20), "BMP"), 30, 20);
        SetGeoCoded(c.geoCoded);
        ViewStateProbe::ActiveTool(m_View) = Tool::None;
        ViewStateProbe::RangeStart(m_View) = ViewStateProbe::RangeEnd(m_View) = QPoint(-1, -1);
        if (c.range && c.dragged)
            SelectRange(0.2, 0.8, 0.1, 0.6);
        else if (c.range)
            ViewStateProbe::ActiveTool(m_View) = Tool::SelectRange;
        const QString target = QString::fromLatin1(c.target);
        m_Doc.SetOutputFormat(target.endsWith(QLatin1String("cpf")) ? OutputFlavour::Cpf : target.endsWith(QLatin1String("dpf")) ? OutputFlavour::Dpf : OutputFlavour::Gpf);

        EXPECT_EQ(Output(Path(target)), c.written) << c.what;
        if (c.written)
            expected << target;
        expected.sort();
        EXPECT_EQ(Files(), expected) << c.what;
    }
}

TEST_F(OutputTest, ExistingFilesNamedLikeTheTemporaryBitmapAreLeftAlone)
{
    WriteFileBytes(Path("TOWN00010001002.BMP"), "a picture of the user's own");
    WriteFileBytes(Path("TOWN00010001002-1.BMP"), "another one");
    for (int pass = 0; pass < 2; ++pass) {
        LoadTiffMap(30, 20);
        if (pass == 1)
            SelectRange(0.0, 0.5, 0.5, 1.0);
        m_Doc.SetOutputFormat(OutputFlavour::Gpf);
        ASSERT_TRUE(Output(Path("town.gpf"))) << pass;
        EXPECT_EQ(ReadFileBytes(Path("TOWN00010001002.BMP")), QByteArray("a picture of the user's own"));
        EXPECT_EQ(ReadFileBytes(Path("TOWN00010001002-1.BMP")), QByteArray("another one"));
        EXPECT_EQ(Files(), (QStringList{QStringLiteral("TOWN00010001002-1.BMP"), QStringLiteral("TOWN00010001002.BMP"),
                                        QStringLiteral("town.gpf")}));
        // The output carries the map's picture, not the user's files.
        const QByteArray bmp = DpfPayload(ReadFileBytes(Path("town.gpf")));
        EXPECT_EQ(bmp.left(2), QByteArray("BM"));
        EXPECT_EQ(I32At(bmp, 18), pass == 0 ? 30 : 14);
        EXPECT_EQ(I32At(bmp, 22), pass == 0 ? 20 : 9);
    }
}

TEST_F(OutputTest, ATemporaryBitmapLeftByAKilledRunIsTakenOverNotAReasonForANewName)
{
    struct Case {
        const char* what;
        bool marked; ///< made by Varnel as its temporary file
        bool held;   ///< a running Varnel holds it
        QStringList after;
    };
    const Case cases[] = {
        {"left by a killed run", true, false, {QStringLiteral("town.gpf")}},
        {"in use by another run", true, true, {QStringLiteral("TOWN00010001002.BMP"), QStringLiteral("town.gpf")}},
        {"the user's own", false, false, {QStringLiteral("TOWN00010001002.BMP"), QStringLiteral("town.gpf")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(m_Dir.path()).removeRecursively();
        QDir().mkpath(m_Dir.path());
        const QString stale = Path("TOWN00010001002.BMP");
        WriteFileBytes(stale, "half a bitmap");
        const int fd = ::open(QFile::encodeName(stale).constData(), O_RDONLY);
        ASSERT_GE(fd, 0);
        if (c.marked) {
            ASSERT_EQ(::fsetxattr(fd, TemporarySideFile::kMarker, "1", 1, 0), 0);
        }
        if (c.held) {
            ASSERT_EQ(::flock(fd, LOCK_EX), 0);
        }

        LoadTiffMap(30, 20);
        SelectRange(0.0, 0.5, 0.5, 1.0);
        m_Doc.SetOutputFormat(OutputFlavour::Gpf);
        EXPECT_TRUE(Output(Path("town.gpf")));
        ::close(fd);
        // Nothing else was made, under any other name, and the output carries the map.
        EXPECT_EQ(Files(), c.after);
        if (c.after.contains(QStringLiteral("TOWN00010001002.BMP"))) {
            EXPECT_EQ(ReadFileBytes(stale), QByteArray("half a bitmap"));
        }
        const QByteArray bmp = DpfPayload(ReadFileBytes(Path("town.gpf")));
        EXPECT_EQ(I32At(bmp, 18), 14);
        EXPECT_EQ(I32At(bmp, 22), 9);
    }
}

TEST_F(OutputTest, AnOutputLargerThanTheMemoryLeftIsRefusedUpFront)
{
    // 127 x 64 pixels whole (6 bytes each for the file and its compressed copy) and a cut-out
    // of 63 x 31 (12 bytes each for the drawing, its rows and their file): 72 204 bytes.
    LoadPictureMap(ReadFileBytes(TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp"))), 127, 64);
    SelectRange(0.25, 0.75, 0.25, 0.75);
    m_Doc.SetOutputFormat(OutputFlavour::Dpf);
    SetMemoryCeiling(70'000);
    EXPECT_FALSE(Output(Path("town.dpf")));
    SetMemoryCeiling(0);
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strText, QStringLiteral("This map needs 73 KB of memory; about 70 KB are available."));
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Not Enough Memory"));
    EXPECT_TRUE(Files().isEmpty());
    // With the memory there, the same output is written.
    EXPECT_TRUE(Output(Path("town.dpf")));
}

// --- whole maps ------------------------------------------------------------------------------------

TEST_F(OutputTest, CpfCarriesTheOpenedFileAndGpfABitmapOfIt)
{
    const QByteArray jpeg = Encoded(PositionPicture(64, 48), "JPG");
    ASSERT_EQ(jpeg.left(3), QByteArray("\xFF\xD8\xFF"));
    LoadPictureMap(jpeg, 64, 48);

    m_Doc.SetOutputFormat(OutputFlavour::Cpf);
    ASSERT_TRUE(Output(Path("map.cpf")));
    const QByteArray cpf = ReadFileBytes(Path("map.cpf"));
    EXPECT_EQ(cpf.left(4), QByteArray(" FPC"));
    EXPECT_EQ(I32At(cpf, 4), 64);
    EXPECT_EQ(I32At(cpf, 8), 48);
    EXPECT_EQ(CoefficientsAt(cpf, 12), MarkedCoefficients());
    EXPECT_EQ(CpfPayload(cpf), jpeg);

    m_Doc.SetOutputFormat(OutputFlavour::Gpf);
    ASSERT_TRUE(Output(Path("map.gpf")));
    const QByteArray gpf = ReadFileBytes(Path("map.gpf"));
    EXPECT_EQ(gpf.mid(4, 4), QByteArray(" FPG"));
    EXPECT_EQ(CoefficientsAt(gpf, 13), MarkedCoefficients());
    const QByteArray bmp = DpfPayload(gpf);
    EXPECT_EQ(bmp.left(2), QByteArray("BM"));
    EXPECT_EQ(I32At(bmp, 18), 64);
    EXPECT_EQ(I32At(bmp, 22), 48);
    const QImage expected = QImage::fromData(jpeg, "JPG").convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(QImage::fromData(bmp, "BMP").convertToFormat(QImage::Format_RGB32), expected);
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("map.cpf"), QStringLiteral("map.gpf")}));
}

TEST_F(OutputTest, GpfOfABitmapCarriesTheBitmapUnchanged)
{
    const QByteArray bmp = Encoded(PositionPicture(33, 17), "BMP");
    LoadPictureMap(bmp, 33, 17);
    m_Doc.SetOutputFormat(OutputFlavour::Dpf);
    ASSERT_TRUE(Output(Path("map.dpf")));
    EXPECT_EQ(DpfPayload(ReadFileBytes(Path("map.dpf"))), bmp);
}

TEST_F(OutputTest, WithoutAViewTheWholeMapIsWritten)
{
    LoadPictureMap(Encoded(PositionPicture(40, 20), "BMP"), 40, 20);
    SelectRange(0.25, 0.75, 0.25, 0.75);
    m_Doc.SetOutputFormat(OutputFlavour::Cpf);
    ASSERT_TRUE(OutputProjectionFile(m_Doc, nullptr, Path("map.cpf"))); // no view: no range
    const QByteArray cpf = ReadFileBytes(Path("map.cpf"));
    EXPECT_EQ(I32At(cpf, 4), 40);
    EXPECT_EQ(I32At(cpf, 8), 20);
    EXPECT_EQ(CoefficientsAt(cpf, 12), MarkedCoefficients());
}

TEST_F(OutputTest, TiffImageIsWrittenAsItsBitmap)
{
    LoadTiffMap(7, 5);
    m_Doc.SetOutputFormat(OutputFlavour::Cpf);
    ASSERT_TRUE(Output(Path("scan.cpf")));
    const QByteArray payload = CpfPayload(ReadFileBytes(Path("scan.cpf")));
    // 24-bit rows of 7 x 3 = 21 bytes padded to 24, bottom row first, exactly as stored.
    ASSERT_EQ(payload.size(), 54 + 24 * 5);
    EXPECT_EQ(payload.left(2), QByteArray("BM"));
    EXPECT_EQ(I32At(payload, 18), 7);
    EXPECT_EQ(I32At(payload, 22), 5);
    const DIBSection& image = m_Doc.Images()[0];
    for (int r = 0; r < 5; ++r)
        EXPECT_EQ(payload.mid(54 + 24 * r, 21), QByteArray(reinterpret_cast<const char*>(image.StoredRow(r)), 21)) << r;
    EXPECT_EQ(CoefficientsAt(ReadFileBytes(Path("scan.cpf")), 12), MarkedCoefficients()); // no GeoTIFF frame
    EXPECT_TRUE(m_Doc.MapFileData().isEmpty()); // the map stays a TIFF map
}

TEST_F(OutputTest, GeoTiffFrameGivesTheCoefficients)
{
    // A frame spanning 2 degrees of latitude over 1000 rows and half a degree over 10 columns.
    LoadTiffMap(10, 1000, CDataGeo{46.0, -121.5}, CDataGeo{2.0, 0.5});
    m_Doc.SetOutputFormat(OutputFlavour::Dpf);

    ASSERT_TRUE(Output(Path("geo.dpf")));
    const GeoCoefficients written = CoefficientsAt(ReadFileBytes(Path("geo.dpf")), 13);
    GeoCoefficients expected = MarkedCoefficients();
    expected[0] = 0.0;
    expected[1] = 20.0;          // 10 columns over half a degree
    expected[3] = 121.5 * 20.0;  // the west edge at column 0
    expected[4] = -500.0;        // 1000 rows over 2 degrees, rows downward
    expected[5] = 0.0;
    expected[7] = 48.0 * 500.0;  // the north edge at row 0
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_DOUBLE_EQ(written[i], expected[i]) << "c" << i;
        EXPECT_DOUBLE_EQ(m_Doc.GeoCoef()[i], expected[i]) << "c" << i;
    }
    // The model puts the frame's corners on the picture's corners.
    EXPECT_NEAR(written[1] * -121.5 + written[3], 0.0, 1e-9);
    EXPECT_NEAR(written[4] * 48.0 + written[7], 0.0, 1e-9);
    EXPECT_NEAR(written[4] * 46.0 + written[7], 1000.0, 1e-9);
}

TEST_F(OutputTest, GeoTiffFrameAndRangeTogetherShiftTheFrameCoefficients)
{
    LoadTiffMap(101, 1001, CDataGeo{10.0, 20.0}, CDataGeo{2.0, 1.0});
    SelectRange(0.5, 1.0, 0.1, 0.2);
    m_Doc.SetOutputFormat(OutputFlavour::Gpf);
    ASSERT_TRUE(Output(Path("part.gpf")));
    const GeoCoefficients written = CoefficientsAt(ReadFileBytes(Path("part.gpf")), 13);
    EXPECT_DOUBLE_EQ(m_Doc.GeoCoef()[4], -1001.0 / 2.0);
    EXPECT_DOUBLE_EQ(written[3], m_Doc.GeoCoef()[3] - 100.0 * 0.5);
    EXPECT_DOUBLE_EQ(written[7], m_Doc.GeoCoef()[7] - 1000.0 * 0.1);
    const QByteArray bmp = DpfPayload(ReadFileBytes(Path("part.gpf")));
    EXPECT_EQ(I32At(bmp, 18), 50);
    EXPECT_EQ(I32At(bmp, 22), 100);
}

// --- the command -----------------------------------------------------------------------------------

TEST_F(OutputTest, CommandAsksForTheFileAndNamesItByTheChosenFlavour)
{
    struct Case {
        const char* chosen;
        int filterIndex;
        const char* written;
        const char* tag;
    };
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir(QStringLiteral("maps.old")));
    const Case cases[] = {
        {"maps.old/town", 2, "maps.old/town.dpf", " FPD"},
        {"town.old.dpf", 1, "town.gpf", " FPG"},
        {"plain", 3, "plain.cpf", " FPC"},
        {"x.gpf", 2, "x.dpf", " FPD"},
    };
    LoadPictureMap(Encoded(PositionPicture(20, 10), "BMP"), 20, 10);
    for (const Case& c : cases) {
        m_Ui.m_FileDialogs.clear();
        m_Ui.AnswerFile(Path(QString::fromLatin1(c.chosen)), c.filterIndex);
        OnOutputGeoMap(m_Doc, &m_View);
        ASSERT_EQ(m_Ui.m_FileDialogs.size(), 1u);
        EXPECT_TRUE(m_Ui.m_FileDialogs[0].m_bSave);
        EXPECT_EQ(m_Ui.m_FileDialogs[0].m_strTitle, QStringLiteral("Save Projection File"));
        EXPECT_EQ(m_Ui.m_FileDialogs[0].m_strFilter, QStringLiteral("GPF (*.gpf)|*.gpf|DPF (*.dpf)|*.dpf|CPF (*.cpf)|*.cpf|"));
        EXPECT_EQ(m_Doc.OutputFormat(), static_cast<OutputFlavour>(c.filterIndex));
        const QString written = Path(QString::fromLatin1(c.written));
        ASSERT_TRUE(QFileInfo::exists(written)) << c.written;
        const QByteArray file = ReadFileBytes(written);
        EXPECT_EQ(c.filterIndex == 3 ? file.left(4) : file.mid(4, 4), QByteArray(c.tag)) << c.written;
    }
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(OutputTest, CommandProposesANameBesideTheMapAndSaysWhatItWrote)
{
    LoadPictureMap(Encoded(PositionPicture(20, 10), "BMP"), 20, 10); // the map is /maps/picture.bmp
    m_Ui.AnswerFile(Path("town"), 2);
    OnOutputGeoMap(m_Doc, &m_View);
    ASSERT_EQ(m_Ui.m_FileDialogs.size(), 1u);
    EXPECT_EQ(m_Ui.m_FileDialogs[0].m_strProposal, QStringLiteral("/maps/picture.gpf"));
    const qint64 size = QFileInfo(Path("town.dpf")).size();
    ASSERT_GT(size, 1000);
    EXPECT_EQ(m_Ui.m_StatusTexts, std::vector<QString>{QStringLiteral("Wrote town.dpf (%1 kB)").arg(size / 1000.0, 0, 'f', 1)});

    // The next time the flavour chosen last is proposed; a refused output says nothing.
    SetGeoCoded(false);
    m_Ui.AnswerFile(Path("again"), 2);
    OnOutputGeoMap(m_Doc, &m_View);
    EXPECT_EQ(m_Ui.m_FileDialogs[1].m_strProposal, QStringLiteral("/maps/picture.dpf"));
    EXPECT_EQ(m_Ui.m_StatusTexts.size(), 1u);
    EXPECT_EQ(m_Ui.m_RecentFiles, std::vector<QString>{Path("town.dpf")});
}

TEST_F(OutputTest, CommandDoesNothingWithoutAMapOrOnCancel)
{
    m_Doc.SetOutputFormat(OutputFlavour::Dpf);
    m_Ui.AnswerFile(Path("town"), 1);
    OnOutputGeoMap(m_Doc, &m_View); // no map: no dialog
    EXPECT_TRUE(m_Ui.m_FileDialogs.empty());

    LoadPictureMap(Encoded(PositionPicture(20, 10), "BMP"), 20, 10);
    m_Ui.m_FileAnswers.clear();
    m_Ui.CancelFile();
    OnOutputGeoMap(m_Doc, &m_View);
    EXPECT_EQ(m_Ui.m_FileDialogs.size(), 1u);
    EXPECT_EQ(m_Doc.OutputFormat(), OutputFlavour::Dpf);
    EXPECT_TRUE(Files().isEmpty());
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

// --- varnel-cli output -------------------------------------------------------------------------------

namespace {

/// A picture workspace as Save writes it: tag, flag, kind, size, coefficients, picture, points.
QByteArray PictureWorkspace(const QByteArray& picture, int width, int height, bool geoCoded,
                            const GeoCoefficients& coefficients)
{
    QByteArray file;
    BinaryWriter out(file);
    out.WriteUInt32(0x50575320u);
    out.WriteInt32(geoCoded ? 1 : 0);
    out.WriteInt32(2); // a BMP-kind picture map
    out.WriteInt32(width);
    out.WriteInt32(height);
    for (double c : coefficients)
        out.WriteDouble(c);
    out.WriteInt32(static_cast<std::int32_t>(picture.size()));
    out.WriteBytes(picture);
    out.WriteInt32(1); // one control point
    for (double v : {120000.0, -300000.0, 0.5, 0.5})
        out.WriteDouble(v);
    return file;
}

/// A TIFF workspace naming tiffPath, with the whole frame shown and no points.
QByteArray TiffWorkspace(const QString& tiffPath, const GeoCoefficients& coefficients)
{
    QByteArray file;
    BinaryWriter out(file);
    out.WriteUInt32(0x50575320u);
    out.WriteInt32(1);
    out.WriteInt32(9);
    out.WriteInt32(100);
    out.WriteInt32(100);
    for (double c : coefficients)
        out.WriteDouble(c);
    out.WriteUInt8(1);  // GeoTIFF frame
    out.WriteInt32(0);  // selected image
    for (double v : {0.0, 0.0, 1.0, 1.0, 0.0, 0.0, 1.0, 1.0}) // map and displayed frames
        out.WriteDouble(v);
    for (double v : {0.0, 1.0, 0.0, 1.0}) // window left, right, bottom, top
        out.WriteDouble(v);
    out.WriteInt32(1); // images
    const QByteArray path = QFile::encodeName(tiffPath);
    out.WriteInt32(static_cast<std::int32_t>(path.size() + 1));
    out.WriteBytes(path);
    out.WriteUInt8(0);
    out.WriteInt32(0); // no points
    return file;
}

QJsonObject CliJson(const CliResult& result)
{
    EXPECT_EQ(result.m_nExitCode, 0) << result.m_StdErr.toStdString();
    return QJsonDocument::fromJson(result.m_StdOut).object();
}

} // namespace

TEST_F(OutputTest, CliWritesTheRangeOfAPictureWorkspace)
{
    const QByteArray bmp = Encoded(PositionPicture(401, 201), "BMP");
    WriteFileBytes(Path("work.pws"), PictureWorkspace(bmp, 401, 201, true, MarkedCoefficients()));
    const CliResult result = RunCli({QStringLiteral("output"), Path("work.pws"), QStringLiteral("--format"),
                                     QStringLiteral("gpf"), QStringLiteral("--range"), QStringLiteral("0.25,0.75,0.25,0.75"),
                                     QStringLiteral("-o"), Path("out.gpf")});
    const QJsonObject json = CliJson(result);
    EXPECT_EQ(json.value(QStringLiteral("flavour")).toString(), QStringLiteral("GPF"));
    EXPECT_EQ(json.value(QStringLiteral("width")).toInt(), 200);
    EXPECT_EQ(json.value(QStringLiteral("height")).toInt(), 100);

    const QByteArray file = ReadFileBytes(Path("out.gpf"));
    EXPECT_EQ(file.mid(4, 4), QByteArray(" FPG"));
    const GeoCoefficients written = CoefficientsAt(file, 13);
    EXPECT_DOUBLE_EQ(written[3], MarkedCoefficients()[3] - 100.0);
    EXPECT_DOUBLE_EQ(written[7], MarkedCoefficients()[7] - 50.0);
    EXPECT_DOUBLE_EQ(written[1], MarkedCoefficients()[1]);
    const QJsonArray reported = json.value(QStringLiteral("coefficients")).toArray();
    ASSERT_EQ(reported.size(), 16);
    EXPECT_DOUBLE_EQ(reported[3].toDouble(), written[3]);
    const QImage cut = QImage::fromData(DpfPayload(file), "BMP");
    ASSERT_EQ(cut.size(), QSize(200, 100));
    EXPECT_NEAR(ColumnOf(cut.pixel(0, 0)), 100, 1);
    EXPECT_NEAR(qGreen(cut.pixel(0, 0)), 50, 1);
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("out.gpf"), QStringLiteral("work.pws")}));

    // A range given in either order is the same range.
    const CliResult swapped = RunCli({QStringLiteral("output"), Path("work.pws"), QStringLiteral("--format"),
                                      QStringLiteral("gpf"), QStringLiteral("--range"), QStringLiteral("0.75,0.25,0.75,0.25"),
                                      QStringLiteral("-o"), Path("swapped.gpf")});
    ASSERT_EQ(swapped.m_nExitCode, 0) << swapped.m_StdErr.toStdString();
    EXPECT_EQ(ReadFileBytes(Path("swapped.gpf")), file);
}

TEST_F(OutputTest, CliWritesWhatTheCommandWritesForTheSameDocument)
{
    const QByteArray jpeg = Encoded(PositionPicture(64, 48), "JPG");
    WriteFileBytes(Path("work.pws"), PictureWorkspace(jpeg, 64, 48, true, MarkedCoefficients()));
    for (const char* format : {"gpf", "dpf", "cpf"}) {
        const QString out = Path(QStringLiteral("cli.") + QString::fromLatin1(format));
        const CliResult result = RunCli({QStringLiteral("output"), Path("work.pws"), QStringLiteral("--format"),
                                         QString::fromLatin1(format), QStringLiteral("-o"), out});
        ASSERT_EQ(result.m_nExitCode, 0) << result.m_StdErr.toStdString();

        // The same map output in this process through the command's own dialog.
        LoadPictureMap(jpeg, 64, 48);
        const int index = std::strcmp(format, "gpf") == 0 ? 1 : std::strcmp(format, "dpf") == 0 ? 2 : 3;
        m_Ui.AnswerFile(Path("direct"), index);
        OnOutputGeoMap(m_Doc, nullptr);
        EXPECT_EQ(ReadFileBytes(out), ReadFileBytes(Path(QStringLiteral("direct.") + QString::fromLatin1(format)))) << format;
    }
    EXPECT_EQ(CpfPayload(ReadFileBytes(Path("cli.cpf"))), jpeg);
}

TEST_F(OutputTest, CliWritesAGeoTiffWorkspaceWithItsFrameCoefficients)
{
    const QString tiff = TestDataPath(QStringLiteral("geotiff/utmsmall.tif"));
    WriteFileBytes(Path("tiff.pws"), TiffWorkspace(tiff, MarkedCoefficients()));
    const CliResult result = RunCli({QStringLiteral("output"), Path("tiff.pws"), QStringLiteral("--format"),
                                     QStringLiteral("dpf"), QStringLiteral("-o"), Path("tiff.dpf")});
    const QJsonObject json = CliJson(result);
    EXPECT_EQ(json.value(QStringLiteral("width")).toInt(), 100);
    EXPECT_EQ(json.value(QStringLiteral("height")).toInt(), 100);
    const QByteArray file = ReadFileBytes(Path("tiff.dpf"));
    const GeoCoefficients c = CoefficientsAt(file, 13);
    EXPECT_EQ(c[0], 0.0);
    EXPECT_EQ(c[5], 0.0);
    EXPECT_EQ(c[2], MarkedCoefficients()[2]); // slots the frame does not set are carried
    // The frame's corners (from the file's georeference) land on the picture's corners.
    const double west = -117.6411686208, east = -117.5759124632, north = 33.9023526904, south = 33.8485599216;
    EXPECT_NEAR(c[1] * west + c[3], 0.0, 0.01);
    EXPECT_NEAR(c[1] * east + c[3], 100.0, 0.01);
    EXPECT_NEAR(c[4] * north + c[7], 0.0, 0.01);
    EXPECT_NEAR(c[4] * south + c[7], 100.0, 0.01);
    const QByteArray bmp = DpfPayload(file);
    EXPECT_EQ(bmp.left(2), QByteArray("BM"));
    EXPECT_EQ(I32At(bmp, 18), 100);
    EXPECT_EQ(I32At(bmp, 22), 100);
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("tiff.dpf"), QStringLiteral("tiff.pws")}));
}

TEST_F(OutputTest, CliRefusesAndWritesNothing)
{
    const QByteArray bmp = Encoded(PositionPicture(40, 20), "BMP");
    WriteFileBytes(Path("raw.pws"), PictureWorkspace(bmp, 40, 20, false, MarkedCoefficients()));
    WriteFileBytes(Path("good.pws"), PictureWorkspace(bmp, 40, 20, true, MarkedCoefficients()));
    struct Case {
        QStringList args;
        const char* stderrHas;
    };
    const QString out = Path("out.gpf");
    const Case cases[] = {
        {{Path("raw.pws"), "--format", "gpf", "-o", out}, "Need more points"},
        {{Path("good.pws"), "--format", "gpf", "--range", "0.5,0.51,0,1", "-o", out}, "less than one pixel"},
        {{Path("good.pws"), "--format", "gpf", "--range", "0.5,1.5,0,1", "-o", out}, "--range"},
        {{Path("good.pws"), "--format", "gpf", "--range", "0.5,1,0", "-o", out}, "--range"},
        {{Path("good.pws"), "--format", "png", "-o", out}, "usage"},
        {{Path("good.pws"), "--format", "gpf"}, "usage"},
        {{Path("missing.pws"), "--format", "gpf", "-o", out}, "missing.pws"},
        {{Path("good.pws"), "--format", "gpf", "-o", Path("nowhere/out.gpf")}, "can not be opened"},
    };
    for (const Case& c : cases) {
        const CliResult result = RunCli(QStringList{QStringLiteral("output")} + c.args);
        const bool usage = !std::strcmp(c.stderrHas, "usage") || !std::strcmp(c.stderrHas, "--range");
        EXPECT_EQ(result.m_nExitCode, usage ? 2 : 1) << c.args.join(' ').toStdString();
        EXPECT_TRUE(result.m_StdOut.isEmpty());
        EXPECT_TRUE(result.m_StdErr.contains(c.stderrHas)) << result.m_StdErr.toStdString();
        if (!usage) { // said once, in the command's own line
            EXPECT_EQ(result.m_StdErr.count('\n'), 1) << result.m_StdErr.toStdString();
        }
        EXPECT_EQ(Files(), (QStringList{QStringLiteral("good.pws"), QStringLiteral("raw.pws")}))
            << c.args.join(' ').toStdString();
    }
}
