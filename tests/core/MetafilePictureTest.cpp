// The metafiles in ../shared/testdata/pictures: sizes against their headers, embedded bitmaps
// reproduced where they are drawn, text and shapes where their records put them, truncation,
// and the picture service's operations (CPicture) on them. The files are GPL-licensed: they
// are read in place and never copied into the project; without them these tests skip.

#include "imaging/CPicture.h"
#include "imaging/EmfRenderer.h"
#include "imaging/MetafilePicture.h"
#include "imaging/PictureService.h"
#include "platform/BinaryIO.h"
#include "ScriptedUiServices.h"
#include "platform/WinTypes.h"

#include "MetafileTestStreams.h"
#include "TestSupport.h"

#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;

std::uint32_t U32At(const QByteArray& d, qsizetype at)
{
    std::uint32_t v = 0;
    BinaryReader r(d);
    return r.Seek(at) && r.Read(v) ? v : 0;
}

std::int32_t I32At(const QByteArray& d, qsizetype at)
{
    return std::int32_t(U32At(d, at));
}

std::int16_t I16At(const QByteArray& d, qsizetype at)
{
    std::int16_t v = 0;
    BinaryReader r(d);
    return r.Seek(at) && r.Read(v) ? v : 0;
}

std::uint16_t U16At(const QByteArray& d, qsizetype at)
{
    return std::uint16_t(I16At(d, at));
}

/// One record of a metafile, found by walking the record sizes.
struct RecordAt {
    std::uint32_t type;
    qsizetype offset;
    qsizetype size;
};

std::vector<RecordAt> EmfRecords(const QByteArray& d)
{
    std::vector<RecordAt> records;
    for (qsizetype at = 0; at + 8 <= d.size();) {
        const std::uint32_t type = U32At(d, at), size = U32At(d, at + 4);
        if (size < 8 || at + qsizetype(size) > d.size())
            break;
        records.push_back({type, at, qsizetype(size)});
        if (type == 14)
            break;
        at += size;
    }
    return records;
}

std::vector<RecordAt> WmfRecords(const QByteArray& d)
{
    std::vector<RecordAt> records;
    qsizetype at = (U32At(d, 0) == 0x9AC6CDD7u ? 22 : 0) + 18;
    while (at + 6 <= d.size()) {
        const std::uint32_t words = U32At(d, at);
        const std::uint16_t function = U16At(d, at + 4);
        if (words < 3 || at + qsizetype(words) * 2 > d.size())
            break;
        records.push_back({function, at, qsizetype(words) * 2});
        if (function == 0)
            break;
        at += qsizetype(words) * 2;
    }
    return records;
}

/// A BMP file around a DIB a record carries, for Qt's own reader to decode as a reference.
QImage ReferenceDib(const QByteArray& info, const QByteArray& bits)
{
    QByteArray file;
    BinaryWriter out(file);
    out.WriteUInt8('B');
    out.WriteUInt8('M');
    out.WriteUInt32(std::uint32_t(14 + info.size() + bits.size()));
    out.WriteUInt32(0);
    out.WriteUInt32(std::uint32_t(14 + info.size()));
    out.WriteBytes(info);
    out.WriteBytes(bits);
    QImage image = QImage::fromData(file, "BMP");
    EXPECT_FALSE(image.isNull());
    return image.convertToFormat(QImage::Format_RGB32);
}

/// The picture played with device units scaled by scale onto a white image that holds its
/// frame.
QImage PlayScaled(const MetafilePicture& picture, double scale, bool* complete = nullptr)
{
    const QRectF frame = picture.DeviceFrame();
    QImage image(int(std::ceil(frame.width() * scale)) + 1, int(std::ceil(frame.height() * scale)) + 1,
                 QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    const bool played = picture.Play(&painter, QTransform::fromTranslate(-frame.left(), -frame.top()) *
                                                   QTransform::fromScale(scale, scale));
    painter.end();
    if (complete)
        *complete = played;
    return image;
}

QImage Difference(const QImage& a, const QImage& b)
{
    QImage diff(a.size(), QImage::Format_RGB32);
    diff.fill(Qt::white);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                diff.setPixel(x, y, qRgb(0, 0, 0));
    return diff;
}

/// The bytes with the records of the given types turned into a type no player knows.
QByteArray WithoutRecords(QByteArray d, const std::vector<RecordAt>& records, const std::set<std::uint32_t>& types,
                          bool wmf)
{
    for (const RecordAt& r : records) {
        if (!types.count(r.type))
            continue;
        if (wmf) {
            d[r.offset + 4] = char(0x7F);
            d[r.offset + 5] = char(0x7F);
        } else {
            d[r.offset + 2] = char(0x7F);
            d[r.offset + 3] = char(0x7F);
        }
    }
    return d;
}

class MetafilePictureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (SharedTestDataPath(QStringLiteral("pictures")).isEmpty())
            GTEST_SKIP() << "../shared/testdata is absent: its metafiles are GPL-licensed and never copied "
                            "into the project";
    }
    static QString Path(const char* file) { return SharedTestDataPath(QStringLiteral("pictures/") + QLatin1String(file)); }
    static QByteArray Bytes(const char* file) { return ReadFileBytes(Path(file)); }
    static std::unique_ptr<MetafilePicture> Load(const char* file)
    {
        const QByteArray bytes = Bytes(file);
        return MetafilePicture::Load(bytes, SniffPictureFormat(bytes));
    }

    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    QTemporaryDir m_Dir;
};

const char* const kEmfFiles[] = {"emf/test-181.emf", "emf/test-118.emf", "emf/test-000.emf",
                                 "emf/test-041.emf", "emf/test_libuemf_ref.emf", "emf/drawing.emf"};
const char* const kWmfFiles[] = {"wmf/test_libuemf_ref.wmf", "wmf/fulltest.wmf", "wmf/cell.wmf", "wmf/text.wmf",
                                 "wmf/p0000001.wmf", "wmf/drawing.wmf", "wmf/test.wmf"};

} // namespace

TEST_F(MetafilePictureTest, SizesFollowTheHeaders)
{
    for (const char* file : kEmfFiles) {
        const QByteArray d = Bytes(file);
        // rclFrame, HIMETRIC: right - left by bottom - top.
        const QSize expected(I32At(d, 32) - I32At(d, 24), I32At(d, 36) - I32At(d, 28));
        CPicture picture;
        ASSERT_TRUE(picture.LoadFromFile(Path(file))) << file;
        EXPECT_EQ(picture.m_pPicture->HimetricSize(), expected) << file;
        EXPECT_EQ(picture.m_nWidth, MulDiv(expected.width(), 96, 2540)) << file;
        EXPECT_EQ(picture.m_nHeight, MulDiv(expected.height(), 96, 2540)) << file;
        EXPECT_EQ(picture.m_nByteSize, d.size()) << file;
    }
    for (const char* file : kWmfFiles) {
        const QByteArray d = Bytes(file);
        QSize expected;
        if (U32At(d, 0) == 0x9AC6CDD7u) {
            // Placeable: the bounds at units per inch.
            const double inch = U16At(d, 14);
            expected = QSize(int(std::lround(std::abs(I16At(d, 10) - I16At(d, 6)) * 2540.0 / inch)),
                             int(std::lround(std::abs(I16At(d, 12) - I16At(d, 8)) * 2540.0 / inch)));
        } else {
            // Plain: the window's extent in pixels at 96 dpi, when a record sets it.
            for (const RecordAt& r : WmfRecords(d))
                if (r.type == 0x020C && expected.isEmpty())
                    expected = QSize(int(std::lround(std::abs(I16At(d, r.offset + 8)) * 2540.0 / 96)),
                                     int(std::lround(std::abs(I16At(d, r.offset + 6)) * 2540.0 / 96)));
        }
        CPicture picture;
        ASSERT_TRUE(picture.LoadFromFile(Path(file))) << file;
        if (!expected.isEmpty())
            EXPECT_EQ(picture.m_pPicture->HimetricSize(), expected) << file;
        else // text.wmf states no size: it is measured, and must hold its sixteen lines of text
            EXPECT_GT(picture.m_nHeight, 16 * 10) << file;
        EXPECT_EQ(picture.m_nWidth, MulDiv(picture.m_pPicture->HimetricSize().width(), 96, 2540)) << file;
    }
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(MetafilePictureTest, ScannedBitmapIsReproducedPixelForPixel)
{
    // test-181.emf: one STRETCHBLT of a 951 x 849 32-bit bitfields DIB, whose record bounds
    // say it covers exactly 951 x 849 device pixels.
    const QByteArray d = Bytes("emf/test-181.emf");
    const std::unique_ptr<MetafilePicture> picture = Load("emf/test-181.emf");
    ASSERT_NE(picture, nullptr);
    for (const RecordAt& r : EmfRecords(d)) {
        if (r.type != 77)
            continue;
        const QRect bounds(QPoint(I32At(d, r.offset + 8), I32At(d, r.offset + 12)),
                           QPoint(I32At(d, r.offset + 16), I32At(d, r.offset + 20)));
        const QImage expected = ReferenceDib(d.mid(r.offset + U32At(d, r.offset + 84), U32At(d, r.offset + 88)),
                                             d.mid(r.offset + U32At(d, r.offset + 92), U32At(d, r.offset + 96)));
        ASSERT_EQ(bounds.size(), expected.size());
        QImage image(bounds.size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        QPainter painter(&image);
        EXPECT_TRUE(picture->Play(&painter, QTransform::fromTranslate(-bounds.left(), -bounds.top())));
        painter.end();
        EXPECT_EQ(image, expected);
        return;
    }
    FAIL() << "no STRETCHBLT record";
}

TEST_F(MetafilePictureTest, MonochromeBitmapAwayFromTheOriginLandsInItsBounds)
{
    // test-118.emf: a 1-bit bitmap stretched (twice, SRCAND) over device bounds that do not
    // start at 0,0, with lines and text drawn over it. Without those, wherever the bitmap is
    // uniform around a pixel, the picture shows its colour.
    const QByteArray d = Bytes("emf/test-118.emf");
    const QByteArray bitmapsOnly = WithoutRecords(d, EmfRecords(d), {2, 3, 4, 5, 6, 7, 8, 42, 43, 44, 45, 46, 47, 54, 83, 84,
                                                                     85, 86, 87, 88, 89, 90, 91, 62, 63, 64}, false);
    const std::unique_ptr<MetafilePicture> picture = MetafilePicture::Load(bitmapsOnly, PictureFormat::Emf);
    ASSERT_NE(picture, nullptr);
    const double scale = 0.5;
    const QImage shown = PlayScaled(*picture, scale);
    const QPointF origin = picture->DeviceFrame().topLeft();
    int checked = 0;
    for (const RecordAt& r : EmfRecords(d)) {
        if (r.type != 77)
            continue;
        const QRectF bounds(QPointF(I32At(d, r.offset + 8), I32At(d, r.offset + 12)),
                            QPointF(I32At(d, r.offset + 16) + 1, I32At(d, r.offset + 20) + 1));
        const QImage bitmap = ReferenceDib(d.mid(r.offset + U32At(d, r.offset + 84), U32At(d, r.offset + 88)),
                                           d.mid(r.offset + U32At(d, r.offset + 92), U32At(d, r.offset + 96)));
        const double sx = bounds.width() / bitmap.width(), sy = bounds.height() / bitmap.height();
        for (int y = 1; y + 1 < bitmap.height(); y += 3) {
            for (int x = 1; x + 1 < bitmap.width(); x += 3) {
                const QRgb c = bitmap.pixel(x, y);
                bool uniform = true;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        uniform = uniform && bitmap.pixel(x + dx, y + dy) == c;
                if (!uniform)
                    continue;
                const QPointF device(bounds.left() + (x + 0.5) * sx, bounds.top() + (y + 0.5) * sy);
                const QPoint at(int((device.x() - origin.x()) * scale), int((device.y() - origin.y()) * scale));
                ASSERT_EQ(shown.pixel(at), c) << x << "," << y;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 10000);
}

TEST_F(MetafilePictureTest, SmallBitmapsAreStretchedBlockForBlock)
{
    // test_libuemf_ref.emf: its first STRETCHDIBITS draws a 10 x 10 DIB over 200 x 200 device
    // pixels: every source pixel becomes a 20 x 20 block.
    const QByteArray d = Bytes("emf/test_libuemf_ref.emf");
    const std::unique_ptr<MetafilePicture> picture = Load("emf/test_libuemf_ref.emf");
    ASSERT_NE(picture, nullptr);
    for (const RecordAt& r : EmfRecords(d)) {
        if (r.type != 81)
            continue;
        const QPoint dest(I32At(d, r.offset + 24), I32At(d, r.offset + 28));
        const QSize destSize(I32At(d, r.offset + 72), I32At(d, r.offset + 76));
        const QSize srcSize(I32At(d, r.offset + 40), I32At(d, r.offset + 44));
        const QImage bitmap = ReferenceDib(d.mid(r.offset + U32At(d, r.offset + 48), U32At(d, r.offset + 52)),
                                           d.mid(r.offset + U32At(d, r.offset + 56), U32At(d, r.offset + 60)));
        ASSERT_EQ(srcSize, bitmap.size());
        const int block = destSize.width() / srcSize.width();
        ASSERT_EQ(block * srcSize.width(), destSize.width());
        QImage image(destSize, QImage::Format_RGB32);
        QPainter painter(&image);
        picture->Play(&painter, QTransform::fromTranslate(-dest.x(), -dest.y()));
        painter.end();
        for (int y = 0; y < srcSize.height(); ++y)
            for (int x = 0; x < srcSize.width(); ++x)
                EXPECT_EQ(image.pixel(x * block + block / 2, y * block + block / 2), bitmap.pixel(x, y)) << x << "," << y;
        return;
    }
    FAIL() << "no STRETCHDIBITS record";
}

TEST_F(MetafilePictureTest, TextAndShapesAppearWithinTheirRecordBounds)
{
    // Enhanced-metafile drawing records carry the device box they drew in (files written by GDI
    // itself fill it in). Playing a file with and without them, the difference must lie in
    // those boxes, and (allowing for what later records cover, and fonts that are not the
    // writer's) show in nearly all of them.
    const struct {
        const char* file;
        std::set<std::uint32_t> types;
        double scale;
        const char* what;
    } cases[] = {
        {"emf/test-000.emf", {84}, 1.0, "text"},
        {"emf/test-000.emf", {2, 3, 4, 85, 86, 87, 90, 91}, 1.0, "shapes"},
        {"emf/test-118.emf", {2, 3, 4, 85, 86, 87, 90, 91}, 0.5, "shapes"},
    };
    for (const auto& c : cases) {
        const QByteArray d = Bytes(c.file);
        const std::vector<RecordAt> records = EmfRecords(d);
        const std::unique_ptr<MetafilePicture> full = Load(c.file);
        const QByteArray without = WithoutRecords(d, records, c.types, false);
        const std::unique_ptr<MetafilePicture> stripped = MetafilePicture::Load(without, PictureFormat::Emf);
        ASSERT_NE(full, nullptr) << c.file;
        ASSERT_NE(stripped, nullptr) << c.file;
        const QImage diff = Difference(PlayScaled(*full, c.scale), PlayScaled(*stripped, c.scale));
        const QPointF origin = full->DeviceFrame().topLeft();
        QImage allowed(diff.size(), QImage::Format_RGB32);
        allowed.fill(Qt::white);
        QPainter mark(&allowed);
        int boxes = 0, shown = 0;
        for (const RecordAt& r : records) {
            if (!c.types.count(r.type))
                continue;
            const QRectF bounds(QPointF(I32At(d, r.offset + 8), I32At(d, r.offset + 12)),
                                QPointF(I32At(d, r.offset + 16) + 1, I32At(d, r.offset + 20) + 1));
            if (bounds.isEmpty())
                continue;
            const QRectF scaled((bounds.left() - origin.x()) * c.scale, (bounds.top() - origin.y()) * c.scale,
                                bounds.width() * c.scale, bounds.height() * c.scale);
            const double margin = 2 + 0.25 * scaled.height();
            const QRect box = scaled.adjusted(-margin, -margin, margin, margin).toAlignedRect();
            mark.fillRect(box, Qt::black);
            ++boxes;
            shown += CountNotIn(diff, box, kWhite) > 0;
        }
        mark.end();
        int outside = 0, total = 0;
        for (int y = 0; y < diff.height(); ++y)
            for (int x = 0; x < diff.width(); ++x)
                if (diff.pixel(x, y) != kWhite) {
                    ++total;
                    outside += allowed.pixel(x, y) == kWhite;
                }
        EXPECT_GT(boxes, 0) << c.file << " " << c.what;
        EXPECT_GT(total, 0) << c.file << " " << c.what;
        EXPECT_GE(shown, boxes * 9 / 10) << c.file << " " << c.what;
        EXPECT_LE(outside, total / 100) << c.file << " " << c.what;
    }
}

TEST_F(MetafilePictureTest, EmfTextLandsAtItsReferencePoints)
{
    // Files whose text records leave their boxes empty: the reference point of each, taken
    // through the map mode, window and viewport the records have set (test-041.emf maps a
    // y-upward window onto a frame above the origin: "UL" must come out top left), must have
    // ink of that text close by.
    for (const char* file : {"emf/test-041.emf", "emf/test_libuemf_ref.emf"}) {
        const QByteArray d = Bytes(file);
        const std::vector<RecordAt> records = EmfRecords(d);
        const std::unique_ptr<MetafilePicture> full = Load(file);
        const std::unique_ptr<MetafilePicture> stripped =
            MetafilePicture::Load(WithoutRecords(d, records, {83, 84}, false), PictureFormat::Emf);
        ASSERT_NE(full, nullptr) << file;
        ASSERT_NE(stripped, nullptr) << file;
        const QRectF frame = full->DeviceFrame();
        const double scale = 1000.0 / frame.width();
        const QImage diff = Difference(PlayScaled(*full, scale), PlayScaled(*stripped, scale));
        struct Mapping {
            int mode = 1;
            QPointF windowOrg, viewportOrg;
            QSizeF windowExt{1, 1}, viewportExt{1, 1};
        };
        Mapping m;
        std::vector<Mapping> saved;
        int texts = 0, near = 0;
        const int radius = int(0.04 * diff.height());
        for (const RecordAt& r : records) {
            const QPointF p(I32At(d, r.offset + 8), I32At(d, r.offset + 12));
            switch (r.type) {
            case 17: m.mode = int(U32At(d, r.offset + 8)); break;
            case 9: m.windowExt = QSizeF(p.x(), p.y()); break;
            case 10: m.windowOrg = p; break;
            case 11: m.viewportExt = QSizeF(p.x(), p.y()); break;
            case 12: m.viewportOrg = p; break;
            case 33: saved.push_back(m); break;
            case 34:
                for (int n = -I32At(d, r.offset + 8); n > 0 && !saved.empty(); --n) {
                    m = saved.back();
                    saved.pop_back();
                }
                break;
            case 83:
            case 84: {
                ASSERT_TRUE(m.mode == 1 || m.mode == 8) << file; // the modes this check knows
                const double sx = m.mode == 8 ? m.viewportExt.width() / m.windowExt.width() : 1.0;
                const double sy = m.mode == 8 ? m.viewportExt.height() / m.windowExt.height() : 1.0;
                const QPointF ref(I32At(d, r.offset + 36), I32At(d, r.offset + 40));
                const QPointF device(m.viewportOrg.x() + (ref.x() - m.windowOrg.x()) * sx,
                                     m.viewportOrg.y() + (ref.y() - m.windowOrg.y()) * sy);
                const QPoint at(int((device.x() - frame.left()) * scale), int((device.y() - frame.top()) * scale));
                ++texts;
                near += CountNotIn(diff, QRect(at - QPoint(radius, radius), QSize(2 * radius, 2 * radius)), kWhite) > 0;
                break;
            }
            default:
                break;
            }
        }
        EXPECT_GT(texts, 0) << file;
        EXPECT_GE(near, texts * 9 / 10) << file << ": " << near << " of " << texts;
    }
}

TEST_F(MetafilePictureTest, WmfTextLandsAtItsReferencePoints)
{
    // The reference point of each text record, taken through the window the records have set
    // (cell.wmf's first window has a negative extent: its y runs upward) onto the bounds,
    // must have ink of that text close by.
    for (const char* file : {"wmf/cell.wmf", "wmf/fulltest.wmf", "wmf/test_libuemf_ref.wmf"}) {
        const QByteArray d = Bytes(file);
        const std::vector<RecordAt> records = WmfRecords(d);
        const std::unique_ptr<MetafilePicture> full = Load(file);
        const std::unique_ptr<MetafilePicture> stripped =
            MetafilePicture::Load(WithoutRecords(d, records, {0x0521, 0x0A32}, true), PictureFormat::Wmf);
        ASSERT_NE(full, nullptr) << file;
        ASSERT_NE(stripped, nullptr) << file;
        const QRectF frame = full->DeviceFrame();
        const double scale = 1000.0 / frame.width();
        const QImage diff = Difference(PlayScaled(*full, scale), PlayScaled(*stripped, scale));
        struct Window {
            QPointF org;
            QSizeF ext;
        };
        Window window{frame.topLeft(), frame.size()};
        std::vector<Window> saved;
        int texts = 0, near = 0;
        const int radius = int(0.04 * diff.height());
        for (const RecordAt& r : records) {
            const qsizetype p = r.offset + 6;
            if (r.type == 0x020B)
                window.org = QPointF(I16At(d, p + 2), I16At(d, p));
            else if (r.type == 0x020C)
                window.ext = QSizeF(I16At(d, p + 2), I16At(d, p));
            else if (r.type == 0x001E)
                saved.push_back(window);
            else if (r.type == 0x0127 && !saved.empty()) {
                window = saved.back();
                saved.pop_back();
            } else if (r.type == 0x0521 || r.type == 0x0A32) {
                QPointF ref;
                if (r.type == 0x0A32) {
                    ref = QPointF(I16At(d, p + 2), I16At(d, p));
                } else {
                    const int length = I16At(d, p);
                    const qsizetype at = p + 2 + (length + 1) / 2 * 2;
                    ref = QPointF(I16At(d, at + 2), I16At(d, at));
                }
                const QPointF device(frame.left() + (ref.x() - window.org.x()) * frame.width() / window.ext.width(),
                                     frame.top() + (ref.y() - window.org.y()) * frame.height() / window.ext.height());
                const QPoint at(int((device.x() - frame.left()) * scale), int((device.y() - frame.top()) * scale));
                ++texts;
                near += CountNotIn(diff, QRect(at - QPoint(radius, radius), QSize(2 * radius, 2 * radius)), kWhite) > 0;
            }
        }
        EXPECT_GT(texts, 0) << file;
        EXPECT_GE(near, texts * 8 / 10) << file << ": " << near << " of " << texts;
    }
}

TEST_F(MetafilePictureTest, CutFilesDrawWhatTheirWholeRecordsDraw)
{
    // A file cut inside a record draws exactly what the same file ending before that record
    // draws, and reports the broken record.
    for (const char* file : {"emf/test-000.emf", "emf/test_libuemf_ref.emf", "wmf/cell.wmf", "wmf/fulltest.wmf"}) {
        const QByteArray d = Bytes(file);
        const bool wmf = SniffPictureFormat(d) == PictureFormat::Wmf;
        const std::vector<RecordAt> records = wmf ? WmfRecords(d) : EmfRecords(d);
        ASSERT_GT(records.size(), 20u) << file;
        for (const double fraction : {0.3, 0.6, 0.9}) {
            const RecordAt& r = records[size_t(double(records.size()) * fraction)];
            const QByteArray cut = d.left(r.offset + r.size / 2 + 1);
            const QByteArray whole = d.left(r.offset);
            const PictureFormat format = wmf ? PictureFormat::Wmf : PictureFormat::Emf;
            const std::unique_ptr<MetafilePicture> cutPicture = MetafilePicture::Load(cut, format);
            const std::unique_ptr<MetafilePicture> wholePicture = MetafilePicture::Load(whole, format);
            ASSERT_NE(cutPicture, nullptr) << file << " " << fraction;
            ASSERT_NE(wholePicture, nullptr) << file << " " << fraction;
            bool cutComplete = true, wholeComplete = false;
            const double scale = 600.0 / cutPicture->DeviceFrame().width();
            const QImage cutImage = PlayScaled(*cutPicture, scale, &cutComplete);
            const QImage wholeImage = PlayScaled(*wholePicture, scale, &wholeComplete);
            EXPECT_FALSE(cutComplete) << file << " " << fraction;
            EXPECT_TRUE(wholeComplete) << file << " " << fraction;
            EXPECT_EQ(cutImage, wholeImage) << file << " " << fraction;
        }
    }
}

TEST_F(MetafilePictureTest, SavingWritesTheRenderingAsABmpOfThePictureSize)
{
    for (const char* file : {"emf/test-000.emf", "emf/test-041.emf", "wmf/fulltest.wmf", "wmf/cell.wmf"}) {
        CPicture picture;
        ASSERT_TRUE(picture.LoadFromFile(Path(file))) << file;
        const QString saved = m_Dir.filePath(QStringLiteral("saved.bmp"));
        ASSERT_TRUE(picture.SaveToFile(saved)) << file;
        const QByteArray bmp = ReadFileBytes(saved);
        ASSERT_EQ(SniffPictureFormat(bmp), PictureFormat::Bmp) << file;
        const QImage read = QImage::fromData(bmp, "BMP").convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(read.size(), QSize(picture.m_nWidth, picture.m_nHeight)) << file;
        // The saved pixels are the picture drawn whole onto white at that size.
        QImage drawn(read.size(), QImage::Format_RGB32);
        drawn.fill(Qt::white);
        QPainter painter(&drawn);
        ASSERT_TRUE(picture.Draw(&painter, drawn.rect())) << file;
        painter.end();
        EXPECT_EQ(read, drawn) << file;
        // Loaded again, the BMP has the same pixel size.
        CPicture again;
        ASSERT_TRUE(again.LoadFromFile(saved)) << file;
        EXPECT_EQ(again.m_nWidth, picture.m_nWidth) << file;
        EXPECT_EQ(again.m_nHeight, picture.m_nHeight) << file;
    }
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(MetafilePictureTest, DrawPartOfTheWholeEqualsDraw)
{
    for (const char* file : {"emf/test-041.emf", "wmf/fulltest.wmf"}) {
        CPicture picture;
        ASSERT_TRUE(picture.LoadFromFile(Path(file))) << file;
        QImage whole(300, 200, QImage::Format_RGB32);
        whole.fill(Qt::white);
        QPainter wp(&whole);
        ASSERT_TRUE(picture.Draw(&wp, whole.rect()));
        wp.end();
        QImage part(300, 200, QImage::Format_RGB32);
        part.fill(Qt::white);
        QPainter pp(&part);
        ASSERT_TRUE(picture.DrawPart(&pp, part.rect(), 0.0, 1.0, 0.0, 1.0));
        pp.end();
        EXPECT_EQ(part, whole) << file;
        EXPECT_GT(CountNot(whole, kWhite), 1000) << file;
    }
}
