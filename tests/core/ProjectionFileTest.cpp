#include "commands/FileCommands.h"
#include "document/CQuilletDoc.h"
#include "formats/ProjectionFile.h"
#include "ScriptedUiServices.h"

#include "RecordingView.h"
#include "TestDocs.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

GeoCoefficients SampleCoefficients()
{
    GeoCoefficients c{};
    for (size_t i = 0; i < c.size(); ++i)
        c[i] = (i + 1) * 1.0 / 3.0 - (i % 2 ? 1e5 : 0.0); // values with every bit in use
    c[2] = -0.0;
    c[1] += 2e5, c[3] -= 6e5 + 15, c[4] -= 1e5, c[5] += 1e5, c[7] += 46e5 - 10; // north up, top left near 45 N, 7 E
    return c;
}

quint32 U32At(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

QByteArray MakeDpf(std::uint32_t tag, const GeoCoefficients& coefficients, const QByteArray& payload)
{
    QByteArray file;
    WriteDpfHeader(file, tag, coefficients);
    WriteDpfPayload(file, payload);
    return file;
}

/// Opens the bytes of a projection file as the Open command opens such a file.
bool ReadProjection(const QByteArray& file, CQuilletDoc& doc, ProjectionKind kind)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(kind == ProjectionKind::Cpf ? QStringLiteral("map.cpf") : QStringLiteral("map.dpf"));
    WriteFileBytes(path, file);
    return OpenProjectionFile(doc, path, kind);
}

bool ReadDpfProjection(const QByteArray& file, CQuilletDoc& doc)
{
    return ReadProjection(file, doc, ProjectionKind::Dpf);
}

bool ReadCpfProjection(const QByteArray& file, CQuilletDoc& doc)
{
    return ReadProjection(file, doc, ProjectionKind::Cpf);
}

class ProjectionTest : public ::testing::Test {
protected:
    ProjectionTest() { m_Doc.AddView(&m_View); }

    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    RecordingView m_View;
    CQuilletDoc m_Doc;
    QTemporaryDir m_Dir;
    const QByteArray m_Bmp = ReadFileBytes(TestDataPath(QStringLiteral("pictures/bmp/rgb24.bmp")));
};

} // namespace

TEST_F(ProjectionTest, DpfLayoutIsByteExact)
{
    const GeoCoefficients coefficients = SampleCoefficients();
    const QByteArray file = MakeDpf(kDpfTag, coefficients, QByteArray("abracadabra"));
    ASSERT_EQ(file.size(), 1177 + 3);
    EXPECT_EQ(U32At(file, 0), 145u);
    EXPECT_EQ(file.mid(4, 4), QByteArray(" FPD"));
    EXPECT_EQ(file.mid(8, 5), QByteArray("\x01\x00\x00\x00\x00", 5));
    for (int i = 0; i < 16; ++i) // doubles from the odd offset 13, no padding
        EXPECT_EQ(std::memcmp(file.constData() + 13 + 8 * i, &coefficients[size_t(i)], 8), 0) << i;
    EXPECT_EQ(U32At(file, 141), 0u);
    EXPECT_EQ(U32At(file, 145), 3u);  // compressed bytes
    EXPECT_EQ(U32At(file, 149), 11u); // payload bytes
    for (int v = 0; v < 256; ++v) {
        const quint32 expected = v == 'a' ? 5 : v == 'b' || v == 'r' ? 2 : v == 'c' || v == 'd' ? 1 : 0;
        ASSERT_EQ(U32At(file, 153 + 4 * v), expected) << v;
    }
    // a = 0, b = 110, r = 111, c = 1010, d = 100, root first, least significant bit first.
    EXPECT_EQ(file.mid(1177), QByteArray("\x76\x25\x76", 3));

    const QByteArray gpf = MakeDpf(kGpfTag, coefficients, QByteArray("abracadabra"));
    EXPECT_EQ(gpf.mid(4, 4), QByteArray(" FPG"));
    EXPECT_EQ(gpf.left(4), file.left(4));
    EXPECT_EQ(gpf.mid(8), file.mid(8));
}

TEST_F(ProjectionTest, CpfLayoutIsByteExact)
{
    const GeoCoefficients coefficients = SampleCoefficients();
    QByteArray file;
    WriteCpfProjection(file, 401, -201, coefficients, QByteArray("JPEGDATA"));
    ASSERT_EQ(file.size(), 144 + 8);
    EXPECT_EQ(file.left(4), QByteArray(" FPC"));
    EXPECT_EQ(qint32(U32At(file, 4)), 401);
    EXPECT_EQ(qint32(U32At(file, 8)), -201);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(std::memcmp(file.constData() + 12 + 8 * i, &coefficients[size_t(i)], 8), 0) << i;
    EXPECT_EQ(U32At(file, 140), 8u);
    EXPECT_EQ(file.mid(144), QByteArray("JPEGDATA"));
}

TEST_F(ProjectionTest, EveryFlavourRoundTripsBitForBit)
{
    const GeoCoefficients coefficients = SampleCoefficients();
    for (std::uint32_t tag : {kGpfTag, kDpfTag}) {
        CQuilletDoc doc;
        ASSERT_TRUE(ReadDpfProjection(MakeDpf(tag, coefficients, m_Bmp), doc));
        EXPECT_EQ(std::memcmp(doc.GeoCoef().data(), coefficients.data(), sizeof coefficients), 0);
        EXPECT_EQ(doc.MapFileData(), m_Bmp);
        EXPECT_EQ(doc.ImageWidth(), 127);
        EXPECT_EQ(doc.ImageHeight(), 64);
        EXPECT_NE(doc.Picture().m_pPicture, nullptr);
        EXPECT_TRUE(doc.IsMapLoaded());
        EXPECT_TRUE(doc.IsGeoCoded());
    }
    QByteArray cpf;
    const QByteArray jpeg = ReadFileBytes(TestDataPath(QStringLiteral("pictures/jpg/hopper.jpg")));
    WriteCpfProjection(cpf, 300, 200, coefficients, jpeg);
    CQuilletDoc doc;
    ASSERT_TRUE(ReadCpfProjection(cpf, doc));
    EXPECT_EQ(std::memcmp(doc.GeoCoef().data(), coefficients.data(), sizeof coefficients), 0);
    EXPECT_EQ(doc.MapFileData(), jpeg);
    // The size comes from the size fields only, not from the picture inside.
    EXPECT_EQ(doc.ImageWidth(), 300);
    EXPECT_EQ(doc.ImageHeight(), 200);
    EXPECT_NE(doc.Picture().m_pPicture, nullptr);
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(ProjectionTest, GeoCheckInstallsTheNeutralFrame)
{
    LoadDegreeTiffMap(m_Doc, 100, 100, {30, -80}, {0.5, 0.5});
    ASSERT_TRUE(m_Doc.HasGeoTiffFrame());
    m_View.m_Hints.clear();
    ASSERT_TRUE(ReadDpfProjection(MakeDpf(kDpfTag, SampleCoefficients(), m_Bmp), m_Doc));
    EXPECT_TRUE(m_Doc.IsGeoCoded());
    EXPECT_FALSE(m_Doc.HasGeoTiffFrame());
    EXPECT_EQ(m_Doc.GeoOrigin(), (CDataGeo{0, 0, 0, 0}));
    EXPECT_EQ(m_Doc.GeoExtent(), (CDataGeo{1, 1, 0, 0}));
    EXPECT_EQ(m_View.m_Hints, std::vector<long>{DocChange::kAll});
}

TEST_F(ProjectionTest, VariantByteDecides)
{
    for (char variant : {'\0', '\1', '\2', '\xFF'}) {
        QByteArray file = MakeDpf(kDpfTag, SampleCoefficients(), m_Bmp);
        file[12] = variant;
        CQuilletDoc doc;
        ScriptedUiServices ui;
        ScopedUiServices installed(ui);
        const bool accepted = variant == 0 || variant == 1;
        EXPECT_EQ(ReadDpfProjection(file, doc), accepted) << int(variant);
        EXPECT_EQ(doc.IsMapLoaded(), accepted);
        if (!accepted) {
            ASSERT_EQ(ui.m_Messages.size(), 1u);
            EXPECT_EQ(ui.m_Messages[0].m_strText, QStringLiteral("Unsupported DPF Filetype. May be for a different product."));
            EXPECT_EQ(ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid File"));
            EXPECT_EQ(ui.m_Messages[0].m_nType, MB_OK | MB_ICONERROR);
        }
    }
}

TEST_F(ProjectionTest, SingularCoefficientsLoadThePictureButNotTheGeoCoding)
{
    GeoCoefficients singular = SampleCoefficients();
    singular[0] = singular[1] = singular[4] = singular[5] = 0.0;
    const struct {
        bool dpf;
        const char* caption;
    } cases[] = {{true, "Invalid File"}, {false, "Invalid Projection"}};
    for (const auto& c : cases) {
        ScriptedUiServices ui;
        ScopedUiServices installed(ui);
        CQuilletDoc doc;
        QByteArray file;
        if (c.dpf) {
            file = MakeDpf(kDpfTag, singular, m_Bmp);
        } else {
            WriteCpfProjection(file, 127, 64, singular, m_Bmp);
        }
        EXPECT_TRUE(c.dpf ? ReadDpfProjection(file, doc) : ReadCpfProjection(file, doc));
        EXPECT_TRUE(doc.IsMapLoaded());
        EXPECT_NE(doc.Picture().m_pPicture, nullptr);
        EXPECT_FALSE(doc.IsGeoCoded());
        ASSERT_EQ(ui.m_Messages.size(), 1u);
        EXPECT_EQ(ui.m_Messages[0].m_strText,
                  QStringLiteral("The geo-information in the projection file is not right. Please do the projection again."));
        EXPECT_EQ(ui.m_Messages[0].m_strCaption, QString::fromLatin1(c.caption));
        EXPECT_EQ(ui.m_Messages[0].m_nType, MB_OK | MB_ICONERROR);
    }
}

TEST_F(ProjectionTest, DamagedFilesAreRefusedAndChangeNothing)
{
    const QByteArray good = MakeDpf(kDpfTag, SampleCoefficients(), m_Bmp);
    auto put32 = [](QByteArray file, qsizetype at, quint32 value) {
        qToLittleEndian(value, file.data() + at);
        return file;
    };
    const QByteArray shortBmp = MakeDpf(kDpfTag, SampleCoefficients(), m_Bmp.left(20));
    // Coefficients no map has: NaN, 4e142 pixels to a degree (a DPF read as a CPF), a map millions of degrees off.
    std::array<GeoCoefficients, 3> impossible{SampleCoefficients(), SampleCoefficients(), SampleCoefficients()};
    impossible[0][0] = std::nan(""), impossible[1][5] = 4e142, impossible[2][3] = 1e12;
    std::vector<std::pair<const char*, QByteArray>> cases = {
        {"empty", QByteArray()},
        {"short header", good.left(100)},
        {"no count table", good.left(160)},
        {"payload cut", good.left(good.size() - 10)},
        {"compressed count beyond the file", put32(good, 145, quint32(good.size()))},
        {"payload count beyond what the data can hold", put32(good, 149, 0xFFFFFFF0u)},
        {"compressed data runs out", put32(put32(good, 145, 100), 149, 800)},
        {"payload shorter than a bitmap header", shortBmp},
    };
    for (qsizetype cut = 0; cut < kDpfPayloadOffset; cut += 37)
        cases.emplace_back("prefix", good.left(cut));
    for (const GeoCoefficients& coefficients : impossible)
        cases.emplace_back("impossible coefficients", MakeDpf(kDpfTag, coefficients, m_Bmp));

    GeoCoefficients before = SampleCoefficients();
    before[3] = 42.0;
    for (const auto& [name, file] : cases) {
        ScriptedUiServices ui;
        ScopedUiServices installed(ui);
        CQuilletDoc doc;
        LoadPictureMap(doc, 20, 10);
        SetPointsAndModel(doc, {}, false, before);
        const QByteArray old = doc.MapFileData();
        RecordingView view;
        doc.AddView(&view);
        EXPECT_FALSE(ReadDpfProjection(file, doc)) << name;
        EXPECT_EQ(doc.ImageWidth(), 20) << name;
        EXPECT_EQ(doc.GeoCoef(), before) << name;
        EXPECT_EQ(doc.MapFileData(), old) << name;
        EXPECT_EQ(view.Updates(), 0) << name;
        ASSERT_EQ(ui.m_Messages.size(), 1u) << name;
        EXPECT_EQ(ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid File")) << name;
    }

    QByteArray cpf;
    WriteCpfProjection(cpf, 127, 64, SampleCoefficients(), m_Bmp);
    std::vector<QByteArray> cpfCases = {cpf.left(3), cpf.left(100), cpf.left(143), cpf.left(cpf.size() - 1),
                                        put32(cpf, 140, 0xFFFFFFFFu), put32(cpf, 4, 0), good /* a DPF read as a CPF */};
    for (const GeoCoefficients& coefficients : impossible)
        WriteCpfProjection(cpfCases.emplace_back(), 127, 64, coefficients, m_Bmp);
    for (const QByteArray& payload : {QByteArray(), QByteArray("JPEGDATA")}) // no picture
        WriteCpfProjection(cpfCases.emplace_back(), 127, 64, SampleCoefficients(), payload);
    for (const QByteArray& broken : cpfCases) {
        ScriptedUiServices ui;
        ScopedUiServices installed(ui);
        CQuilletDoc doc;
        EXPECT_FALSE(ReadCpfProjection(broken, doc)) << broken.size();
        EXPECT_FALSE(doc.IsMapLoaded());
        ASSERT_EQ(ui.m_Messages.size(), 1u);
        EXPECT_EQ(ui.m_Messages[0].m_strCaption, QStringLiteral("Invalid File"));
    }
}

namespace {

/// A 24-bit BMP of width x rows pixels whose bytes are smooth noise, as a scan gives.
QByteArray NoisyBmp(int width, int rows)
{
    const qsizetype rowBytes = (qsizetype(width) * 3 + 3) & ~qsizetype(3);
    QByteArray bmp(54 + rowBytes * rows, '\0');
    bmp[0] = 'B', bmp[1] = 'M';
    qToLittleEndian<quint32>(quint32(bmp.size()), bmp.data() + 2);
    qToLittleEndian<quint32>(54, bmp.data() + 10);
    qToLittleEndian<quint32>(40, bmp.data() + 14);
    qToLittleEndian<qint32>(width, bmp.data() + 18);
    qToLittleEndian<qint32>(rows, bmp.data() + 22);
    qToLittleEndian<quint16>(1, bmp.data() + 26);
    qToLittleEndian<quint16>(24, bmp.data() + 28);
    quint32 state = 12345;
    for (qsizetype i = 54; i < bmp.size(); ++i) {
        state = state * 1103515245u + 12345u;
        bmp[i] = char(100 + int(40 * std::sin(double(i) / 300.0)) + int((state >> 16) % 23));
    }
    return bmp;
}

/// What a sink slower than the coder does: takes its time, then keeps the bytes.
void SlowAppend(QByteArray& to, const char* data, qsizetype size)
{
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    to.append(data, size);
}

} // namespace

TEST(ProjectionStreaming, PiecesGiveTheWholeFileAndPayload)
{
    // Small pieces and decoder blocks, so that a few kilobytes cross many of their boundaries;
    // the files written whole are the reference. 1000 pixels make 3000-byte rows. The sinks are
    // slower than the coder, as a disk is, so that pieces queue up for them: a buffer coded into
    // again before its piece was written would show.
    struct Case {
        int rows;
        qsizetype pieceBytes;
    };
    const Case cases[] = {{0, 4096}, {1, 4096}, {1, 3054}, {1, 3055}, {1, 3053}, {3, 3000},
                          {40, 4096}, {40, 8192 + 1}, {40, 1 << 20}};
    const GeoCoefficients coefficients = SampleCoefficients();
    for (const Case& c : cases) {
        const QByteArray bmp = NoisyBmp(1000, c.rows);
        StreamPieces pieces;
        pieces.m_nPieceBytes = c.pieceBytes;
        pieces.m_Parallelism.m_nThreads = 3;
        pieces.m_Parallelism.m_nBlockBits = 2048;
        qsizetype done = 0;
        pieces.m_Done = [&done](qsizetype upTo) { done = std::max(done, upTo); };
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(bmp.constData());
        for (std::uint32_t tag : {kGpfTag, kDpfTag, kCpfTag}) {
            QByteArray whole, streamed;
            const ByteSink sink = [&streamed](const char* data, qsizetype size) { SlowAppend(streamed, data, size); };
            if (tag == kCpfTag) {
                WriteCpfProjection(whole, 1000, c.rows, coefficients, bmp);
                StreamCpfProjection(1000, c.rows, coefficients, bytes, std::uint32_t(bmp.size()), sink, pieces);
            } else {
                whole = MakeDpf(tag, coefficients, bmp);
                WriteDpfHeader(streamed, tag, coefficients);
                StreamDpfPayload(bytes, std::uint32_t(bmp.size()), sink, pieces);
            }
            EXPECT_EQ(streamed, whole) << c.rows << " rows, pieces of " << c.pieceBytes << ", tag " << tag;
            EXPECT_EQ(done, bmp.size()) << c.rows << " rows, pieces of " << c.pieceBytes;
        }
        const QByteArray dpf = MakeDpf(kDpfTag, coefficients, bmp);
        UiMessage wholeError, streamedError;
        QByteArray payload;
        const std::optional<ProjectionContents> whole = ParseDpfProjection(dpf, wholeError);
        const std::optional<ProjectionContents> streamed = StreamDpfProjection(
            dpf, streamedError, [&payload](const char* data, qsizetype size) { SlowAppend(payload, data, size); }, pieces);
        ASSERT_EQ(streamed.has_value(), c.rows > 0) << c.rows << " rows, pieces of " << c.pieceBytes;
        EXPECT_EQ(payload, bmp) << c.rows << " rows, pieces of " << c.pieceBytes;
        if (!streamed) {
            EXPECT_EQ(streamedError.m_strText, wholeError.m_strText);
            continue;
        }
        EXPECT_EQ(streamed->m_nHeight, c.rows);
        EXPECT_EQ(streamed->m_nWidth, 1000);
        EXPECT_EQ(StreamDpfProjection(dpf.left(dpf.size() - 1), streamedError, [](const char*, qsizetype) {}, pieces),
                  std::nullopt);
        EXPECT_EQ(streamedError.m_strText, QStringLiteral("The projection file is cut short or damaged. It cannot be read."));
    }
}

TEST_F(ProjectionTest, WriterReadsItsTemporaryBitmap)
{
    const QString temp = m_Dir.filePath(QStringLiteral("TOWN00010001002.BMP"));
    WriteFileBytes(temp, m_Bmp);
    QByteArray file;
    EXPECT_TRUE(WriteDpfProjection(file, kGpfTag, SampleCoefficients(), temp));
    EXPECT_EQ(file, MakeDpf(kGpfTag, SampleCoefficients(), m_Bmp));

    QByteArray headerOnly;
    EXPECT_FALSE(WriteDpfProjection(headerOnly, kGpfTag, SampleCoefficients(), m_Dir.filePath(QStringLiteral("none.BMP"))));
    EXPECT_EQ(headerOnly.size(), 145);
}

TEST(ProjectionNames, TemporaryBitmapIsNamedAfterTheProjectionFile)
{
    const struct {
        const char* projection;
        const char* temp;
    } cases[] = {
        {"/maps/town.gpf", "/maps/TOWN00010001002.BMP"},
        {"/Maps/Old/Town.DPF", "/Maps/Old/TOWN00010001002.BMP"},
        {"/maps.v2/river.cpf", "/maps.v2/RIVER00010001002.BMP"},
        {"town.gpf", "TOWN00010001002.BMP"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProjectionTempBmpPath(QString::fromLatin1(c.projection)), QString::fromLatin1(c.temp));
}
