#include "document/CQuilletDoc.h"
#include "imaging/BitmapExport.h"
#include "imaging/DIBSection.h"
#include "commands/BitmapCommand.h"
#include "ScriptedUiServices.h"
#include "platform/WinTypes.h"

#include "TestDocs.h"
#include "TestSupport.h"
#include "view/core/ViewState.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

quint32 U32At(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

qint32 I32At(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<qint32>(bytes.constData() + at);
}

quint16 U16At(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

/// A picture with a different colour at every pixel.
QImage Pattern(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 37 + y * 11) & 0xFF, (x * 5 + y * 71) & 0xFF, (x * y + 3) & 0xFF));
    return image;
}

/// A 16-colour indexed picture.
QImage IndexedPattern(int width, int height)
{
    QImage image(width, height, QImage::Format_Indexed8);
    QVector<QRgb> table;
    for (int i = 0; i < 16; ++i)
        table << qRgb(i * 16, 255 - i * 8, (i * 53) & 0xFF);
    image.setColorTable(table);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, static_cast<uint>((x + 3 * y) % 16));
    return image;
}

/// Every pixel's colour, for comparing pictures across pixel formats.
QImage AsRgb32(const QImage& image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

/// The largest difference of one colour channel between two pictures of the same size; 256
/// when the sizes differ.
int MaxChannelDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return 256;
    const QImage x = AsRgb32(a);
    const QImage y = AsRgb32(b);
    int worst = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row);
            const QRgb q = y.pixel(col, row);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

/// A colour-table entry: blue, green, red and a zero byte.
QByteArray TableEntry(QRgb colour)
{
    QByteArray entry(4, '\0');
    entry[0] = static_cast<char>(qBlue(colour));
    entry[1] = static_cast<char>(qGreen(colour));
    entry[2] = static_cast<char>(qRed(colour));
    return entry;
}

QByteArray PackedFile(const QByteArray& block)
{
    QByteArray file;
    WritePackedBitmapFile(file, block);
    return file;
}

class BitmapExportTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return m_Dir.filePath(name); }
    QStringList Files() const { return QDir(m_Dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name); }

    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    QTemporaryDir m_Dir;
};

} // namespace

// --- the 24-bit section writer --------------------------------------------------------------------

TEST_F(BitmapExportTest, FiveByTwoSectionIsWrittenAsEightySixBytes)
{
    DIBSection section;
    section.Create(24, 5, 2);
    ASSERT_NE(section.m_pBits, nullptr);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 15; ++c)
            section.StoredRow(r)[c] = static_cast<std::uint8_t>(r * 100 + c + 1);
    section.StoredRow(0)[15] = 0xAB; // the first padding byte of the stored row goes along as it is

    ASSERT_TRUE(WriteDibSectionBmp(Path("five.bmp"), section));
    const QByteArray file = ReadFileBytes(Path("five.bmp"));
    ASSERT_EQ(file.size(), 86);
    struct Field {
        int offset;
        int size;
        quint32 value;
    };
    const Field fields[] = {
        {2, 4, 86}, {6, 4, 0},  {10, 4, 54}, {14, 4, 40}, {18, 4, 5},  {22, 4, 2},  {26, 2, 1},
        {28, 2, 24}, {30, 4, 0}, {34, 4, 32}, {38, 4, 0}, {42, 4, 0}, {46, 4, 0}, {50, 4, 0},
    };
    EXPECT_EQ(file.left(2), QByteArray("BM"));
    for (const Field& f : fields)
        EXPECT_EQ(f.size == 2 ? U16At(file, f.offset) : U32At(file, f.offset), f.value) << "offset " << f.offset;
    // Rows of 16 bytes, bottom row (stored row 0) first, blue-green-red as stored.
    for (int r = 0; r < 2; ++r)
        EXPECT_EQ(file.mid(54 + 16 * r, 16), QByteArray(reinterpret_cast<const char*>(section.StoredRow(r)), 16)) << r;
    EXPECT_EQ(static_cast<std::uint8_t>(file[54 + 15]), 0xAB);

    // Qt reads it as the picture the section shows: stored row 0 is the bottom row.
    const QImage read = QImage::fromData(file, "BMP");
    ASSERT_EQ(read.size(), QSize(5, 2));
    EXPECT_EQ(read.pixel(0, 1), qRgb(3, 2, 1));
    EXPECT_EQ(read.pixel(4, 0), qRgb(115, 114, 113));
}

TEST_F(BitmapExportTest, SectionRowLengthsRoundUpToFourBytes)
{
    struct Case {
        int width;
        int rowBytes;
    };
    const Case cases[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {7, 24}, {8, 24}, {9, 28}};
    for (const Case& c : cases) {
        DIBSection section;
        section.Create(24, c.width, 3);
        ASSERT_TRUE(WriteDibSectionBmp(Path("row.bmp"), section)) << c.width;
        const QByteArray file = ReadFileBytes(Path("row.bmp"));
        EXPECT_EQ(file.size(), 54 + 3 * c.rowBytes) << c.width;
        EXPECT_EQ(U32At(file, 2), quint32(54 + 3 * c.rowBytes)) << c.width;
        EXPECT_EQ(U32At(file, 34), quint32(3 * c.rowBytes)) << c.width;
        EXPECT_EQ(I32At(file, 18), c.width);
    }
}

TEST_F(BitmapExportTest, SectionWithoutBitsOrOfAnotherDepthWritesNothing)
{
    DIBSection empty;
    EXPECT_FALSE(WriteDibSectionBmp(Path("empty.bmp"), empty));
    DIBSection deep;
    deep.Create(32, 4, 4);
    ASSERT_NE(deep.m_pBits, nullptr);
    EXPECT_FALSE(WriteDibSectionBmp(Path("deep.bmp"), deep));
    DIBSection shallow;
    shallow.Create(16, 4, 4);
    EXPECT_FALSE(WriteDibSectionBmp(Path("shallow.bmp"), shallow));
    EXPECT_TRUE(Files().isEmpty());
}

TEST_F(BitmapExportTest, SectionThatCannotBeWrittenLeavesTheOldFile)
{
    DIBSection section;
    section.Create(24, 4, 4);
    EXPECT_FALSE(WriteDibSectionBmp(Path("missing/a.bmp"), section));
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir(QStringLiteral("taken.bmp")));
    EXPECT_FALSE(WriteDibSectionBmp(Path("taken.bmp"), section));
    EXPECT_EQ(Files(), QStringList{QStringLiteral("taken.bmp")});
}

// --- capture and the packed file -------------------------------------------------------------------

TEST_F(BitmapExportTest, CaptureBitDepthFollowsThePixelFormat)
{
    struct Case {
        QImage::Format format;
        int bitCount;
        int entries;
        quint32 pixelOffset;
    };
    const Case cases[] = {
        {QImage::Format_RGB32, 32, 0, 54},     {QImage::Format_ARGB32, 32, 0, 54},
        {QImage::Format_Indexed8, 8, 256, 1078}, {QImage::Format_Mono, 1, 2, 62},
        {QImage::Format_MonoLSB, 1, 2, 62},    {QImage::Format_RGB16, 16, 0, 54},
        {QImage::Format_BGR888, 24, 0, 54},    {QImage::Format_RGB888, 24, 0, 54},
    };
    const int width = 13; // rows need padding at every depth
    const int height = 6;
    for (const Case& c : cases) {
        const QImage source = c.format == QImage::Format_Indexed8 ? IndexedPattern(width, height)
                                                                  : Pattern(width, height).convertToFormat(c.format);
        const QByteArray block = CaptureBitmap(source, nullptr, BI_RGB);
        const int rowBytes = ((c.bitCount * width + 31) / 32) * 4;
        ASSERT_EQ(block.size(), 40 + 4 * c.entries + rowBytes * height) << c.format;
        EXPECT_EQ(U32At(block, 0), 40u);
        EXPECT_EQ(I32At(block, 4), width);
        EXPECT_EQ(I32At(block, 8), height); // positive: bottom-up
        EXPECT_EQ(U16At(block, 12), 1);
        EXPECT_EQ(U16At(block, 14), c.bitCount) << c.format;
        EXPECT_EQ(U32At(block, 16), BI_RGB);
        EXPECT_EQ(U32At(block, 20), quint32(rowBytes * height));

        const QByteArray file = PackedFile(block);
        ASSERT_EQ(file.size(), block.size() + 14);
        EXPECT_EQ(file.left(2), QByteArray("BM"));
        EXPECT_EQ(U32At(file, 2), quint32(block.size() + 14));
        EXPECT_EQ(U32At(file, 6), 0u);
        EXPECT_EQ(U32At(file, 10), c.pixelOffset) << c.format;
        EXPECT_EQ(file.mid(14), block);

        // An independent reader sees the captured pixels (16-bit pixels keep five bits a channel).
        const QImage read = QImage::fromData(file, "BMP");
        ASSERT_FALSE(read.isNull()) << c.format;
        EXPECT_LE(MaxChannelDifference(read, source), c.bitCount == 16 ? 8 : 0) << c.format;
    }
}

TEST_F(BitmapExportTest, ThirtyTwoBitRowsAreBottomUpBlueGreenRedAndZero)
{
    QImage image(3, 2, QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(1, 2, 3));
    image.setPixel(1, 0, qRgb(4, 5, 6));
    image.setPixel(2, 0, qRgb(7, 8, 9));
    image.setPixel(0, 1, qRgb(10, 11, 12));
    image.setPixel(1, 1, qRgb(13, 14, 15));
    image.setPixel(2, 1, qRgb(16, 17, 18));
    const QByteArray block = CaptureBitmap(image, nullptr, BI_RGB);
    ASSERT_EQ(block.size(), 40 + 24);
    EXPECT_EQ(block.mid(40), QByteArray("\x0C\x0B\x0A\x00\x0F\x0E\x0D\x00\x12\x11\x10\x00"
                                        "\x03\x02\x01\x00\x06\x05\x04\x00\x09\x08\x07\x00",
                                        24));
}

TEST_F(BitmapExportTest, EightBitCaptureCarriesTheColourTable)
{
    const QImage source = IndexedPattern(5, 3);
    const QByteArray block = CaptureBitmap(source, nullptr, BI_RGB);
    ASSERT_EQ(block.size(), 40 + 1024 + 8 * 3);
    for (int i = 0; i < 256; ++i) {
        const QRgb expected = i < 16 ? source.color(i) : qRgb(0, 0, 0);
        const qsizetype at = 40 + 4 * i;
        EXPECT_EQ(QByteArray(block.constData() + at, 4),
                  TableEntry(expected))
            << i;
    }
    // Bottom row first: row 2 of the picture holds indices (x + 6) % 16.
    EXPECT_EQ(block.mid(1064, 5), QByteArray("\x06\x07\x08\x09\x0A", 5));
    EXPECT_EQ(block.mid(1069, 3), QByteArray(3, '\0'));
}

TEST_F(BitmapExportTest, GivenPaletteBecomesTheTableAndPixelsFollowIt)
{
    const QImage source = IndexedPattern(9, 4);
    QVector<QRgb> palette;
    for (int i = 15; i >= 0; --i) // the same colours in reverse order, behind three others
        palette << source.color(i);
    palette.prepend(qRgb(1, 1, 1));
    palette.prepend(qRgb(250, 0, 250));
    palette.prepend(qRgb(0, 0, 2));
    const QByteArray block = CaptureBitmap(source, &palette, BI_RGB);
    ASSERT_EQ(block.size(), 40 + 1024 + 12 * 4);
    for (int i = 0; i < 256; ++i) {
        const QRgb expected = i < palette.size() ? palette[i] : qRgb(0, 0, 0);
        EXPECT_EQ(QByteArray(block.constData() + 40 + 4 * i, 4),
                  TableEntry(expected))
            << i;
    }
    // Picture index i is palette entry 3 + 15 - i; the bottom row holds indices (x + 9) % 16.
    EXPECT_EQ(static_cast<std::uint8_t>(block[1064]), 3 + 15 - 9);
    EXPECT_EQ(MaxChannelDifference(QImage::fromData(PackedFile(block), "BMP"), source), 0);
}

TEST_F(BitmapExportTest, GivenPaletteForAMonoBitmapSwapsItsBits)
{
    QImage mono(11, 3, QImage::Format_Mono);
    mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 11; ++x)
            mono.setPixel(x, y, (x + y) % 3 == 0 ? 1u : 0u);
    const QVector<QRgb> palette{qRgb(0, 0, 0), qRgb(255, 255, 255)};
    const QByteArray block = CaptureBitmap(mono, &palette, BI_RGB);
    ASSERT_EQ(block.size(), 40 + 8 + 4 * 3);
    EXPECT_EQ(block.mid(40, 8), QByteArray("\x00\x00\x00\x00\xFF\xFF\xFF\x00", 8));
    // Bottom row y = 2: black (now bit 0) where (x + 2) % 3 == 0, that is x = 1, 4, 7, 10.
    EXPECT_EQ(block.mid(48, 4), QByteArray("\xB6\xC0\x00\x00", 4));
    EXPECT_EQ(MaxChannelDifference(QImage::fromData(PackedFile(block), "BMP"), mono), 0);

    // A palette given for a bitmap of 16 bits or more changes nothing.
    const QImage rgb = Pattern(7, 3);
    EXPECT_EQ(CaptureBitmap(rgb, &palette, BI_RGB), CaptureBitmap(rgb, nullptr, BI_RGB));
}

TEST_F(BitmapExportTest, CaptureOfNothingOrWithOtherCompressionGivesNoBlock)
{
    EXPECT_TRUE(CaptureBitmap(QImage(), nullptr, BI_RGB).isEmpty());
    EXPECT_TRUE(CaptureBitmap(Pattern(4, 4), nullptr, BI_RLE8).isEmpty());
    EXPECT_TRUE(CaptureBitmap(Pattern(4, 4), nullptr, BI_BITFIELDS).isEmpty());
    QByteArray file("kept");
    WritePackedBitmapFile(file, QByteArray("short"));
    EXPECT_EQ(file, QByteArray("kept"));
}

// --- Save As Bitmap ----------------------------------------------------------------------------------

namespace {

class SaveAsBitmapTest : public BitmapExportTest {
protected:
    SaveAsBitmapTest()
    {
        LoadPictureMap(m_Doc, 10, 10);
        m_View.KeepViewBitmap(std::make_unique<QImage>(m_Painted));
    }

    const QImage m_Painted = Pattern(61, 29);
    CQuilletDoc m_Doc;
    ViewState m_View;
};

/// Scripted services whose save dialog repaints the view underneath, as a real dialog may.
class RepaintingDialog : public ScriptedUiServices {
public:
    explicit RepaintingDialog(ViewState& view) : m_View(view) {}
    FileDialogResult SaveFileDialog(const QString& title, const QString& filter, const QString& proposal) override
    {
        // A repaint replaces the kept picture, as the view's paint does.
        auto repainted = std::make_unique<QImage>(*m_View.ViewBitmap());
        repainted->fill(Qt::gray);
        m_View.KeepViewBitmap(std::move(repainted));
        return ScriptedUiServices::SaveFileDialog(title, filter, proposal);
    }

private:
    ViewState& m_View;
};

} // namespace

TEST_F(SaveAsBitmapTest, WritesThePaintedViewUnderTheNameCutAtItsFirstDot)
{
    struct Case {
        const char* chosen;
        const char* written;
    };
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir(QStringLiteral("shots.d")));
    const Case cases[] = {
        {"view.old.bmp", "view.bmp"},
        {"plain", "plain.bmp"},
        {"shots.d/map", "shots.d/map.bmp"},
        {"picture.png", "picture.bmp"},
    };
    for (const Case& c : cases) {
        m_Ui.m_FileDialogs.clear();
        m_Ui.AnswerFile(Path(QString::fromLatin1(c.chosen)), 1);
        OnSaveViewAsBitmap(m_Doc, m_View);
        ASSERT_EQ(m_Ui.m_FileDialogs.size(), 1u);
        EXPECT_TRUE(m_Ui.m_FileDialogs[0].m_bSave);
        EXPECT_EQ(m_Ui.m_FileDialogs[0].m_strTitle, QStringLiteral("Save picture as a Bitmap file"));
        EXPECT_EQ(m_Ui.m_FileDialogs[0].m_strFilter, QStringLiteral("BMP - Bitmap picture (*.bmp)|"));
        const QString written = Path(QString::fromLatin1(c.written));
        ASSERT_TRUE(QFileInfo::exists(written)) << c.written;
        EXPECT_FALSE(QFileInfo::exists(Path(QString::fromLatin1(c.chosen))) && QString::fromLatin1(c.chosen) != QString::fromLatin1(c.written));

        const QByteArray file = ReadFileBytes(written);
        EXPECT_EQ(file.left(2), QByteArray("BM"));
        EXPECT_EQ(U32At(file, 2), quint32(file.size()));
        EXPECT_EQ(U32At(file, 10), 54u); // a 32-bit view: no colour table
        EXPECT_EQ(U16At(file, 28), 32);
        EXPECT_EQ(AsRgb32(QImage::fromData(file, "BMP")), m_Painted) << c.written;
        EXPECT_EQ(m_Ui.m_FileDialogs[0].m_strProposal, QStringLiteral("/maps/test.bmp")); // beside the map
        EXPECT_EQ(m_Ui.m_StatusTexts.back(), QStringLiteral("Wrote %1 (%2 kB)")
                                                 .arg(QFileInfo(written).fileName())
                                                 .arg(file.size() / 1000.0, 0, 'f', 1));
    }
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(SaveAsBitmapTest, CapturesTheViewBeforeTheDialogIsShown)
{
    RepaintingDialog ui(m_View);
    ScopedUiServices installed(ui);
    ui.AnswerFile(Path("before.bmp"), 1);
    OnSaveViewAsBitmap(m_Doc, m_View);
    EXPECT_EQ(AsRgb32(QImage::fromData(ReadFileBytes(Path("before.bmp")), "BMP")), m_Painted);
}

TEST_F(SaveAsBitmapTest, CancelWritesNothing)
{
    m_Ui.CancelFile();
    OnSaveViewAsBitmap(m_Doc, m_View);
    EXPECT_EQ(m_Ui.m_FileDialogs.size(), 1u);
    EXPECT_TRUE(Files().isEmpty());
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(SaveAsBitmapTest, SilentWithoutAMap)
{
    CQuilletDoc empty;
    m_Ui.AnswerFile(Path("nomap.bmp"), 1);
    OnSaveViewAsBitmap(empty, m_View);
    EXPECT_TRUE(m_Ui.m_FileDialogs.empty());
    EXPECT_TRUE(Files().isEmpty());
}

TEST_F(SaveAsBitmapTest, WithoutAPaintedViewNothingHappens)
{
    m_View.KeepViewBitmap(nullptr);
    m_Ui.AnswerFile(Path("unpainted.bmp"), 1);
    OnSaveViewAsBitmap(m_Doc, m_View);
    EXPECT_TRUE(m_Ui.m_FileDialogs.empty());
    EXPECT_TRUE(Files().isEmpty());
}

TEST_F(SaveAsBitmapTest, FileThatCannotBeWrittenIsReportedAndLeavesNothing)
{
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir(QStringLiteral("taken.bmp")));
    for (const auto& [chosen, cause] : {std::pair{"missing/view.bmp", ENOENT}, std::pair{"taken.bmp", EISDIR}}) {
        m_Ui.m_Messages.clear();
        m_Ui.AnswerFile(Path(QString::fromLatin1(chosen)), 1);
        OnSaveViewAsBitmap(m_Doc, m_View);
        ASSERT_EQ(m_Ui.m_Messages.size(), 1u) << chosen;
        // The message keeps its text and adds the system's reason.
        EXPECT_EQ(m_Ui.m_Messages[0].m_strText,
                  QStringLiteral("The file can not be opened. (%1)").arg(QString::fromLocal8Bit(std::strerror(cause))));
        EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid File"));
        EXPECT_EQ(m_Ui.m_Messages[0].Buttons(), MB_OK);
        EXPECT_EQ(m_Ui.m_Messages[0].Icon(), MB_ICONERROR);
        EXPECT_EQ(Files(), QStringList{QStringLiteral("taken.bmp")});
        EXPECT_TRUE(QDir(Path("taken.bmp")).isEmpty());
    }
}

TEST_F(SaveAsBitmapTest, ReplacesAnEarlierFileWhole)
{
    WriteFileBytes(Path("view.bmp"), QByteArray(100000, 'x'));
    m_Ui.AnswerFile(Path("view.bmp"), 1);
    OnSaveViewAsBitmap(m_Doc, m_View);
    const QByteArray file = ReadFileBytes(Path("view.bmp"));
    EXPECT_EQ(file.size(), 54 + 61 * 29 * 4);
    EXPECT_EQ(AsRgb32(QImage::fromData(file, "BMP")), m_Painted);
}
