// Files that claim far more than they hold, name what is no file, or carry values no Varnel
// writes: each is refused up front with a clear message (a workspace whose map cannot be had
// among them, whole, not opened without its map), and a refused file leaves the
// document as it was. One row per input: the hostile samples, variants made here, and the inputs
// the fuzzers found. Time and memory are measured on the same files in bench/.

#include "TestSupport.h"
#include "TiffTestFiles.h"

#include "ScriptedUiServices.h"

#include "commands/ExportCommands.h"
#include "commands/FileCommands.h"
#include "document/CQuilletDoc.h"
#include "formats/FileKinds.h"
#include "formats/ProjectionFile.h"
#include "formats/RecoveryFile.h"
#include "formats/TiffImport.h"
#include "formats/WorkspaceFile.h"
#include "platform/BinaryIO.h"
#include "platform/MemoryBudget.h"
#include "view/core/ViewState.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <tiffio.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <map>

namespace {

/// How a row's input is opened.
enum class Opening {
    NewMap,          ///< New, as the kind its extension names
    OpenWorkspace,   ///< Open, as a workspace
    OpenProjection,  ///< Open, as a DPF or, for a .cpf, a CPF
    ReadRecovery,    ///< varnel-cli recovery, as the start-up offer reads a recovery file
    GeoTiff,         ///< varnel-cli geotiff: what the user is shown is its standard error
    ImportTiff,      ///< the TIFF import as New runs it: damaged pages are left out, whole
    ExportGeoTiff,   ///< opened as New opens it, then exported as a GeoTIFF under the ceiling
};

struct HostileCase {
    const char* m_Name;
    Opening m_Opening;
    /// Writes the input into folder and returns its path.
    std::function<QString(const QString& folder)> m_Make;
    /// What the messages shown must say, in this order.
    std::vector<QString> m_Expected;
    /// The memory ceiling while it is opened (0: what the machine has).
    std::int64_t m_nMemoryCeiling = 0;
    /// Whether the document stays as it was (the input is refused).
    bool m_bRefused = true;
    /// ImportTiff: how many pages are kept.
    std::size_t m_nPagesKept = 0;
};

QString Copy(const QString& folder, const QString& sample)
{
    const QString path = folder + QLatin1Char('/') + QFileInfo(sample).fileName();
    WriteFileBytes(path, ReadFileBytes(TestDataPath(sample)));
    return path;
}

QString Write(const QString& folder, const QString& name, const QByteArray& bytes)
{
    const QString path = folder + QLatin1Char('/') + name;
    WriteFileBytes(path, bytes);
    return path;
}

QString Fifo(const QString& folder, const QString& name)
{
    const QString path = folder + QLatin1Char('/') + name;
    EXPECT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    return path;
}

/// A geo-coded TIFF-map workspace whose map is mapPath, with the view window given.
QByteArray TiffWorkspace(const QString& mapPath, std::array<double, 4> window = {0.0, 1.0, 0.0, 1.0})
{
    WorkspaceContents contents;
    contents.m_nGeoCoded = 1;
    contents.m_nMapType = static_cast<std::int32_t>(MapKind::Tif);
    contents.m_nImageWidth = 100;
    contents.m_nImageHeight = 100;
    contents.m_dGeoCoef = {0.5, 100, 0, -17000, -100, 0, 0, 1000};
    WorkspaceTiffPart tiff;
    tiff.m_GeoExtent = {1.0, 1.0, 0.0, 0.0};
    tiff.m_FrameExtent = {1.0, 1.0, 0.0, 0.0};
    tiff.m_dWinLeft = window[0];
    tiff.m_dWinRight = window[1];
    tiff.m_dWinBottom = window[2];
    tiff.m_dWinTop = window[3];
    tiff.m_nImageCount = 1;
    tiff.m_PathBytes = mapPath.toUtf8() + QByteArray(1, '\0');
    contents.m_Tiff = tiff;
    return EncodeWorkspace(contents);
}

/// The 40000 x 40000 sample with 4 bits a sample, which libtiff would decode through its RGBA
/// reader.
QByteArray FourBitTiff()
{
    QByteArray bytes = ReadFileBytes(TestDataPath(QStringLiteral("hostile/tiff-138-bytes-claims-40000x40000.tif")));
    bytes[0x2A] = 4; // BitsPerSample
    return bytes;
}

/// A 2000 x 1500 grey TIFF compressed with Deflate: a real map of 9 MB of pixels.
QString DeflateTiff(const QString& folder)
{
    TiffContent content;
    content.m_nWidth = 2000;
    content.m_nHeight = 1500;
    content.m_nSamples = 1;
    content.m_nPhotometric = PHOTOMETRIC_MINISBLACK;
    content.m_nCompression = COMPRESSION_ADOBE_DEFLATE;
    content.m_nRowsPerStrip = 64;
    content.m_Sample = [](int x, int y, int) { return std::uint16_t((x / 50 + y / 50) & 1 ? 230 : 40); };
    const QString path = folder + QStringLiteral("/scan.tif");
    EXPECT_TRUE(WriteTiff(path, {content}));
    return path;
}

/// An icon whose one picture is a PNG with a byte of its pixel data changed: its checksum fails.
QByteArray IconWithDamagedPng()
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray png;
    QBuffer buffer(&png);
    EXPECT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "png"));
    png[png.indexOf("IDAT") + 6] ^= 1;
    QByteArray ico("\0\0\x01\0\x01\0\x10\x10\0\0\x01\0\x20\0", 14);
    BinaryWriter out(ico);
    out.WriteUInt32(static_cast<std::uint32_t>(png.size()));
    out.WriteUInt32(22);
    return ico + png;
}

QByteArray CpfClaiming60000Square()
{
    QByteArray file;
    // 1000 pixels a degree: the map spans 60 degrees each way.
    WriteCpfProjection(file, 60000, 60000, GeoCoefficients{0, 1000, 0, 0, -1000, 0, 0, 30000},
                       ReadFileBytes(TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp"))));
    return file;
}

/// hopper.jpg with its frame made to claim 30000 x 30000 and put behind a comment whose length
/// stops short of its contents: in the stray bytes 0xFF 0x00 is data to the decoder, though it
/// reads as a marker with a segment of 32512 bytes.
QByteArray JpegBehindShortComment()
{
    QByteArray jpeg = ReadFileBytes(TestDataPath(QStringLiteral("pictures/jpg/hopper.jpg")));
    const qsizetype at = jpeg.indexOf("\xFF\xC0");
    const QByteArray frame = jpeg.mid(at, 19).replace(5, 4, QByteArray("\x75\x30\x75\x30", 4));
    jpeg.remove(at, 19);
    return jpeg.insert(2, QByteArray("\xFF\xFE\0\x04" "ab\x12\xFF\0\x7F\0", 11) + frame);
}

/// A one-strip TIFF of the given size, depth and compression, all of one grey.
QString OneStripTiff(const QString& folder, int side, int bits, int compression)
{
    TiffContent content;
    content.m_nWidth = content.m_nHeight = side;
    content.m_nSamples = 1;
    content.m_nBits = bits;
    content.m_nPhotometric = PHOTOMETRIC_MINISWHITE;
    content.m_nCompression = compression;
    content.m_Sample = [](int, int, int) { return std::uint16_t(0); };
    const QString path = folder + QStringLiteral("/page%1.tif").arg(bits);
    EXPECT_TRUE(WriteTiff(path, {content}));
    return path;
}

/// A DPF whose header claims a payload of 1.6 MB, eight times its 200 000 compressed bytes (as
/// much as one-bit codes allow).
QByteArray DpfClaimingMuchPayload()
{
    QByteArray file;
    WriteDpfHeader(file, kDpfTag, GeoCoefficients{0.5, 100, 0, -17000, -100, 0, 0, 1000});
    BinaryWriter out(file);
    out.WriteUInt32(200'000);
    out.WriteUInt32(1'600'000);
    for (int i = 0; i < 256; ++i)
        out.WriteUInt32(1);
    file.append(QByteArray(200'000, '\0'));
    return file;
}

const std::vector<HostileCase>& Cases()
{
    static const std::vector<HostileCase> cases = {
        {"a TIFF of 138 bytes claiming 40000 x 40000 pixels", Opening::NewMap,
         [](const QString& folder) { return Copy(folder, QStringLiteral("hostile/tiff-138-bytes-claims-40000x40000.tif")); },
         {QStringLiteral("tiff-138-bytes-claims-40000x40000.tif is damaged or cut short: image 0 claims 40000 x 40000 "
                         "pixels, far more than the 138 bytes of data the file holds for it can describe.")}},
        {"the same with 4 bits a sample (the RGBA route)", Opening::NewMap,
         [](const QString& folder) { return Write(folder, QStringLiteral("four-bit.tif"), FourBitTiff()); },
         {QStringLiteral("four-bit.tif is damaged or cut short: image 0 claims 40000 x 40000 pixels, far more than the "
                         "138 bytes of data the file holds for it can describe.")}},
        {"a Zstandard TIFF claiming 40000 x 40000 pixels in a strip of 100 bytes", Opening::NewMap,
         [](const QString& folder) {
             TiffBytes bytes;
             bytes.AddGreyDirectory(40000, 40000, 40000, {QByteArray(100, '\x5A')});
             QByteArray file = bytes.Build();
             // Compression 1 (none) becomes 50000 (Zstandard), a codec that reaches high ratios.
             file.replace(QByteArray("\x03\x01\x03\0\x01\0\0\0\x01\0\0\0", 12),
                          QByteArray("\x03\x01\x03\0\x01\0\0\0\x50\xC3\0\0", 12));
             return Write(folder, QStringLiteral("zstd.tif"), file);
         },
         {QStringLiteral("zstd.tif is damaged or cut short: image 0 claims 40000 x 40000 pixels, far more than the "
                         "100 bytes of data the file holds for it can describe.")}},
        {"a TIFF cut short in its first directory: libtiff's words under ours", Opening::ImportTiff,
         [](const QString& folder) {
             TiffBytes bytes;
             bytes.AddGreyDirectory(4, 2, 2, {QByteArray(8, 'x')});
             return Write(folder, QStringLiteral("cut.tif"), bytes.Build().left(9)); // ends in the directory's count
         },
         {QStringLiteral("cut.tif is damaged or cut short: part of it cannot be read.\n\nlibtiff: TIFF")}},
        {"a workspace whose TIFF map is that file", Opening::OpenWorkspace,
         [](const QString& folder) {
             return Write(folder, QStringLiteral("huge-tiff.pws"),
                          TiffWorkspace(Copy(folder, QStringLiteral("hostile/tiff-138-bytes-claims-40000x40000.tif"))));
         },
         {QStringLiteral("image 0 claims 40000 x 40000 pixels")}},
        {"a JPEG of 6 KB claiming 30000 x 30000 pixels", Opening::NewMap,
         [](const QString& folder) { return Copy(folder, QStringLiteral("hostile/jpeg-6kb-claims-30000x30000.jpg")); },
         {QStringLiteral("The picture claims 30000 x 30000 pixels, far more than its 6003 bytes of data can describe. "
                         "The file is damaged or cut short.")}},
        {"that JPEG's frame behind a comment shorter than its contents", Opening::NewMap,
         [](const QString& folder) {
             return Write(folder, QStringLiteral("short-comment.jpg"), JpegBehindShortComment());
         },
         {QStringLiteral("The picture claims 30000 x 30000 pixels, far more than its")}},
        {"an icon whose PNG is damaged: libpng's words under ours, and only there", Opening::NewMap,
         [](const QString& folder) { return Write(folder, QStringLiteral("damaged.ico"), IconWithDamagedPng()); },
         {QStringLiteral("The picture is damaged, or it is not a picture of the kind it seems to be: it cannot be "
                         "read.\n\nlibpng: IDAT: ")}},
        {"a JPEG without its quantisation tables: libjpeg's words under ours", Opening::NewMap,
         [](const QString& folder) {
             // Each table becomes a comment.
             const QByteArray jpeg = ReadFileBytes(TestDataPath(QStringLiteral("pictures/jpg/hopper.jpg")));
             return Write(folder, QStringLiteral("tables.jpg"), QByteArray(jpeg).replace("\xFF\xDB", "\xFF\xFE"));
         },
         {QStringLiteral("it cannot be read.\n\nlibjpeg: Quantization table 0x00 was not defined")}},
        {"a GIF of 35 bytes whose canvas is 16000 x 16000 (its one frame is 1 x 1)", Opening::NewMap,
         [](const QString& folder) {
             // Header, logical screen of 16000 x 16000 with a two-colour table, one 1 x 1 frame.
             static const char gif[] = "GIF89a\x80\x3E\x80\x3E\x80\0\0\0\0\0\xFF\xFF\xFF"
                                       ",\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;";
             return Write(folder, QStringLiteral("canvas.gif"), QByteArray(gif, sizeof gif - 1));
         },
         {QStringLiteral("The picture claims 16000 x 16000 pixels, far more than its 35 bytes of data can describe.")}},
        {"an icon whose PNG claims 30000 x 30000 pixels", Opening::NewMap,
         [](const QString& folder) {
             // One directory entry (sizes 0: 256) pointing at a PNG signature and header only.
             static const char ico[] = "\0\0\x01\0\x01\0" "\0\0\0\0\x01\0\x20\0\x21\0\0\0\x16\0\0\0"
                                       "\x89PNG\r\n\x1a\n\0\0\0\x0DIHDR\0\0\x75\x30\0\0\x75\x30\x08\x06\0\0\0\0\0\0\0";
             return Write(folder, QStringLiteral("icon.ico"), QByteArray(ico, sizeof ico - 1));
         },
         {QStringLiteral("The picture claims 30000 x 30000 pixels, far more than its 55 bytes of data can describe.")}},
        {"a GIF header with no image after it", Opening::NewMap,
         [](const QString& folder) { return Write(folder, QStringLiteral("empty.gif"), QByteArray("GIF89a\x04\0\x04\0\0\0\0;", 14)); },
         {QStringLiteral("empty.gif could not be loaded: it is not a picture Varnel can read.")}},
        {"a workspace claiming 20000 x 20000 pixels for an 8 x 6 picture", Opening::OpenWorkspace,
         [](const QString& folder) { return Copy(folder, QStringLiteral("hostile/range-output-huge-picture.pws")); },
         {QStringLiteral("The file says its map is 20000 x 20000 pixels, but the picture it holds is 8 x 6 pixels. The "
                         "file is damaged and cannot be read.")}},
        {"a workspace whose picture has a negative size", Opening::OpenWorkspace,
         [](const QString& folder) { return Copy(folder, QStringLiteral("hostile/range-output-negative-size.pws")); },
         {QStringLiteral("The work space file is cut short or damaged. It cannot be read.")}},
        {"a workspace whose TIFF map is a FIFO", Opening::OpenWorkspace,
         [](const QString& folder) {
             return Write(folder, QStringLiteral("fifo.pws"), TiffWorkspace(Fifo(folder, QStringLiteral("map.tif"))));
         },
         {QStringLiteral("map.tif: not a regular file (a folder, a FIFO or a device)")}},
        {"a workspace whose TIFF map is a folder", Opening::OpenWorkspace,
         [](const QString& folder) {
             QDir(folder).mkdir(QStringLiteral("maps.tif"));
             return Write(folder, QStringLiteral("folder.pws"), TiffWorkspace(folder + QStringLiteral("/maps.tif")));
         },
         {QStringLiteral("maps.tif: not a regular file (a folder, a FIFO or a device)")}},
        {"a FIFO chosen as a TIFF map", Opening::NewMap,
         [](const QString& folder) { return Fifo(folder, QStringLiteral("pipe.tif")); },
         {QStringLiteral("pipe.tif: not a regular file (a folder, a FIFO or a device)")}},
        {"a FIFO chosen as a picture", Opening::NewMap,
         [](const QString& folder) { return Fifo(folder, QStringLiteral("pipe.jpg")); },
         {QStringLiteral("pipe.jpg is not a regular file.")}},
        {"a FIFO opened as a projection file", Opening::OpenProjection,
         [](const QString& folder) { return Fifo(folder, QStringLiteral("pipe.dpf")); },
         {QStringLiteral("pipe.dpf is not a regular file.")}},
        {"a link to a device chosen as a picture", Opening::NewMap,
         [](const QString& folder) {
             const QString path = folder + QStringLiteral("/zero.jpg");
             EXPECT_TRUE(QFile::link(QStringLiteral("/dev/zero"), path));
             return path;
         },
         {QStringLiteral("zero.jpg is not a regular file.")}},
        {"a workspace whose map path would steer a terminal", Opening::OpenWorkspace,
         [](const QString& folder) { return Write(folder, "steer.pws", TiffWorkspace(folder + "/\x1b[2J\x1b]0;owned\x07map\r\n.tif")); },
         {QStringLiteral("/\\x1b[2J\\x1b]0;owned\\x07map\\x0d\\x0a.tif: ")}},
        {"a workspace whose map path is 5000 characters long", Opening::OpenWorkspace,
         [](const QString& folder) { return Write(folder, "long.pws", TiffWorkspace("/" + QString(4990, 'm') + "/end.tif")); },
         {"/" + QString(99, 'm') + "\u2026" + QString(91, 'm') + "/end.tif: "}},
        {"a workspace with the window (0, 1, 0, -1e-170)", Opening::OpenWorkspace,
         [](const QString& folder) {
             return Write(folder, QStringLiteral("window.pws"),
                          TiffWorkspace(TestDataPath(QStringLiteral("geotiff/byte.tif")), {0.0, 1.0, 0.0, -1e-170}));
         },
         {QStringLiteral("The work space file is cut short or damaged. It cannot be read.")}},
        {"a workspace with a window edge that is not a number", Opening::OpenWorkspace,
         [](const QString& folder) {
             const double nan = std::numeric_limits<double>::quiet_NaN();
             return Write(folder, QStringLiteral("nan.pws"),
                          TiffWorkspace(TestDataPath(QStringLiteral("geotiff/byte.tif")), {0.0, nan, 0.0, 1.0}));
         },
         {QStringLiteral("The work space file is cut short or damaged. It cannot be read.")}},
        {"a recovery file whose view window is turned over", Opening::ReadRecovery,
         [](const QString& folder) {
             RecoveryContents contents;
             contents.m_strPath = QStringLiteral("/maps/a.jpg");
             contents.m_dWinBottom = 1.0;
             contents.m_dWinTop = 0.0;
             return Write(folder, QStringLiteral("turned.recovery"), EncodeRecovery(contents));
         },
         {QStringLiteral("not a recovery file, or a damaged one")}},
        {"a real 2000 x 1500 scan on a machine with 20 MB to spare", Opening::NewMap,
         [](const QString& folder) { return DeflateTiff(folder); },
         {QStringLiteral("This map needs 43 MB of memory; about 20 MB are available.")}, 20'000'000},
        // Decoded line by line into its pixels: 48 MB of them, and the codecs' 33.6 MB.
        {"a 4000 x 4000 fax page on a machine with 90 MB to spare", Opening::ImportTiff,
         [](const QString& folder) { return OneStripTiff(folder, 4000, 1, COMPRESSION_CCITTFAX4); }, {}, 90'000'000,
         true, 1},
        // 27 MB of pixels, 36 MB of them at 32 bits, the decoded strip of 18 MB and the codecs'.
        {"a one-strip 3000 x 3000 TIFF of 16-bit grey on a machine with 100 MB to spare", Opening::ImportTiff,
         [](const QString& folder) { return OneStripTiff(folder, 3000, 16, COMPRESSION_ADOBE_DEFLATE); },
         {QStringLiteral("This map needs 115 MB of memory; about 100 MB are available.")}, 100'000'000},
        {"a CPF claiming 60000 x 60000 pixels for a 127 x 64 BMP", Opening::OpenProjection,
         [](const QString& folder) { return Write(folder, QStringLiteral("huge.cpf"), CpfClaiming60000Square()); },
         {QStringLiteral("The file says its map is 60000 x 60000 pixels, but the picture it holds is 127 x 64 pixels.")}},
        {"a DPF whose payload needs more memory than there is", Opening::OpenProjection,
         [](const QString& folder) { return Write(folder, QStringLiteral("big.dpf"), DpfClaimingMuchPayload()); },
         {QStringLiteral("This map needs 2 MB of memory; about 1 MB are available.")}, 1'000'000},
        {"a CPF whose payload needs more memory than there is", Opening::OpenProjection,
         [](const QString& folder) {
             QByteArray file; // a payload of 49290 bytes
             WriteCpfProjection(file, 128, 128, GeoCoefficients{0.5, 100, 0, -17000, -100, 0, 0, 1000},
                                ReadFileBytes(TestDataPath(QStringLiteral("pictures/bmp/hopper.bmp"))));
             return Write(folder, QStringLiteral("big.cpf"), file);
         },
         {QStringLiteral("This map needs 50 KB of memory; about 40 KB are available.")}, 40'000},
        {"a GeoTIFF of 791 x 718 pixels exported with 200 KB to spare", Opening::ExportGeoTiff,
         [](const QString& folder) { return Copy(folder, QStringLiteral("geotiff/RGB.byte.tif")); },
         {QStringLiteral(" of memory; about 200 KB are available.")}, 200'000, false},

        // Found by the fuzzers.
        {"a workspace whose map is wider than the int range on screen", Opening::OpenWorkspace,
         [](const QString& folder) { return Copy(folder, QStringLiteral("hostile/found/workspace-map-wider-than-int.pws")); },
         {QStringLiteral("No map file is named (the name is empty).")}},
        {"a TIFF of 2000 one-pixel pages (each once cost a walk from the first)", Opening::ImportTiff,
         [](const QString& folder) {
             TiffContent page;
             page.m_nWidth = page.m_nHeight = 1;
             page.m_nSamples = 1;
             page.m_nPhotometric = PHOTOMETRIC_MINISBLACK;
             page.m_Sample = [](int, int, int) { return std::uint16_t(7); };
             const QString path = folder + QStringLiteral("/pages.tif");
             EXPECT_TRUE(WriteTiff(path, std::vector<TiffContent>(2000, page)));
             return path;
         },
         {QStringLiteral("pages.tif has 2000 images; only the first 512 are read.")}, 0, true, 512},
        {"the 30000 x 30000 JPEG with garbage where a marker should follow its tables", Opening::NewMap,
         [](const QString& folder) { return Copy(folder, QStringLiteral("hostile/found/jpeg-broken-table-claims-30000x30000.jpg")); },
         {QStringLiteral("The picture claims 30000 x 30000 pixels, far more than its 3657 bytes of data can describe.")}},
        {"an icon whose PNG claims 4294967295 pixels each way, too many to multiply", Opening::NewMap,
         [](const QString& folder) { return Copy(folder, QStringLiteral("hostile/found/ico-png-claims-4294967295-square.ico")); },
         {QStringLiteral("The picture claims 4294967295 x 4294967295 pixels, far more than its 754 bytes of data can describe.")}},
        {"a 34-byte BMP whose width and height multiply past 64 bits", Opening::NewMap,
         [](const QString& folder) { return Copy(folder, QStringLiteral("hostile/found/bmp-34-bytes-rows-overflow.bmp")); },
         {QStringLiteral("The picture claims 1701642367 x 2037542765 pixels, far more than its 0 bytes of data can describe.")}},
        {"a GeoTIFF whose projection parameters libgeotiff cannot write into its text", Opening::ImportTiff,
         [](const QString& folder) {
             return Copy(folder, QStringLiteral("hostile/found/geotiff-projection-past-libgeotiff-buffer.tif"));
         },
         {QStringLiteral("strip 0 of image 0 is not in the file.")}},
        {"a GeoTIFF whose datum PROJ does not know: PROJ's complaint is not the user's", Opening::GeoTiff,
         [](const QString& folder) { return Copy(folder, QStringLiteral("hostile/found/geotiff-datum-unknown-to-proj.tif")); },
         {}, 0, false},
        {"a fax page with a bad code word, which libtiff decodes past", Opening::ImportTiff,
         [](const QString& folder) { return Copy(folder, QStringLiteral("hostile/found/g4-bad-code-word.tiff")); },
         {QStringLiteral("Part of g4-bad-code-word.tiff cannot be read: the file is damaged, or it is a kind of TIFF "
                         "that Varnel does not read.\n\nlibtiff: Fax4Decode: Bad code word at line 465 of strip 0")},
         0, true, 1},
    };
    return cases;
}

/// What of the document a refused file must leave as it was.
struct DocState {
    QString m_strMapPath;
    int m_nWidth = 0;
    int m_nHeight = 0;
    qsizetype m_nMapBytes = 0;
    bool m_bGeoCoded = false;
    std::size_t m_nPoints = 0;

    static DocState Of(const CQuilletDoc& doc)
    {
        return {doc.MapPath(), doc.ImageWidth(), doc.ImageHeight(), doc.MapFileData().size(), doc.IsGeoCoded(),
                doc.ControlPoints().size()};
    }
    bool operator==(const DocState&) const = default;
};

} // namespace

TEST(HostileInputTest, EveryInputIsRefusedUpFrontWithAClearMessage)
{
    for (const HostileCase& c : Cases()) {
        SCOPED_TRACE(c.m_Name);
        QTemporaryDir dir;
        ScriptedUiServices ui;
        ScopedUiServices installed(ui);
        const QString path = c.m_Make(dir.path());

        // A map at work, which a refused file must not touch.
        CQuilletDoc doc;
        ViewState view;
        ASSERT_TRUE(OpenMapFile(doc, TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp")), MapKind::Bmp));
        const DocState before = DocState::Of(doc);

        SetMemoryCeiling(c.m_nMemoryCeiling);
        std::vector<QString> shown;
        switch (c.m_Opening) {
        case Opening::NewMap:
            EXPECT_FALSE(OpenMapFile(doc, path, MapTypeFromExtension(path).value_or(MapKind::None)));
            break;
        case Opening::OpenWorkspace: {
            const CommandResult result = LoadWorkspaceFile(doc, &view, path);
            EXPECT_FALSE(result.m_bDone);
            for (const UiMessage& message : result.m_Messages)
                shown.push_back(message.m_strText);
            break;
        }
        case Opening::OpenProjection:
            EXPECT_FALSE(OpenProjectionFile(doc, path,
                                            path.endsWith(QLatin1String(".cpf")) ? ProjectionKind::Cpf : ProjectionKind::Dpf));
            break;
        case Opening::ImportTiff: {
            const TiffImport import = ImportTiffImages(path);
            EXPECT_EQ(import.m_Images.size(), c.m_nPagesKept);
            for (const UiMessage& message : import.m_Messages)
                shown.push_back(message.m_strText);
            break;
        }
        case Opening::ExportGeoTiff: {
            SetMemoryCeiling(0); // the map fits; its export does not
            EXPECT_TRUE(OpenMapFile(doc, path, MapTypeFromExtension(path).value_or(MapKind::None)));
            SetMemoryCeiling(c.m_nMemoryCeiling);
            const CommandResult result = ExportGeoreferenced(doc, std::nullopt, ExportKind::GeoTiff, path + ".out.tif");
            EXPECT_FALSE(result.m_bDone);
            for (const UiMessage& message : result.m_Messages)
                shown.push_back(message.m_strText);
            break;
        }
        case Opening::ReadRecovery:
        case Opening::GeoTiff: {
            const QString command = c.m_Opening == Opening::GeoTiff ? QStringLiteral("geotiff") : QStringLiteral("recovery");
            const CliResult run = RunCli({command, path});
            EXPECT_EQ(run.m_nExitCode, c.m_bRefused ? 1 : 0);
            shown.push_back(QString::fromUtf8(run.m_StdErr));
            break;
        }
        }
        SetMemoryCeiling(0);
        for (const auto& message : ui.m_Messages)
            shown.push_back(message.m_strText);

        // Each expected text appears, in order, in what was shown.
        std::size_t at = 0;
        for (const QString& expected : c.m_Expected) {
            while (at < shown.size() && !shown[at].contains(expected))
                ++at;
            EXPECT_LT(at, shown.size()) << "not shown: " << expected.toStdString() << "\nshown: "
                                        << QStringList(shown.begin(), shown.end()).join(QStringLiteral(" | ")).toStdString();
        }
        if (c.m_bRefused) {
            EXPECT_TRUE(DocState::Of(doc) == before);
        }

        // varnel-cli refuses what the window refuses, in the same words: status 1, and no answer.
        const std::map<Opening, QStringList> commands = {
            {Opening::NewMap, {IsTiffMapType(MapTypeFromExtension(path).value_or(MapKind::None)) ? "geotiff" : "picture", path}},
            {Opening::OpenWorkspace, {"output", path, "--format=dpf", "-o", dir.filePath("out.dpf")}}, {Opening::OpenProjection, {"unpack", path}}};
        if (const auto command = commands.find(c.m_Opening); c.m_bRefused && !c.m_nMemoryCeiling && command != commands.end()) {
            const CliResult run = RunCli(command->second);
            EXPECT_EQ(run.m_nExitCode, 1);
            EXPECT_EQ(run.m_StdOut, QByteArray());
            EXPECT_FALSE(run.m_StdErr.contains('\x1b') || run.m_StdErr.contains('\r'));
            for (const QString& expected : c.m_Expected)
                EXPECT_TRUE(QString::fromUtf8(run.m_StdErr).contains(expected)) << run.m_StdErr.toStdString();
            shown.push_back(QString::fromUtf8(run.m_StdErr));
        }
        // No library speaks to the user on a line of its own log's.
        for (const QString& text : shown)
            for (const QString& line : text.split(QLatin1Char('\n')))
                for (const char* raw : {"proj_", "libpng error", "libpng warning", "qt.gui.imageio"})
                    EXPECT_FALSE(line.startsWith(QLatin1String(raw))) << text.toStdString();
    }
}
